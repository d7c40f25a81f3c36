# Runs a command on a terminal of its own (a pseudo-terminal), answers its prompt ("[OK")
# with Enter, and saves what it wrote. Exits 0 when it asked and ended well.
#
#   python3 on-terminal.py OUTPUT COMMAND...
import os, pty, select, sys, time
out = sys.argv[1]
pid, fd = pty.fork()
if pid == 0:
    os.execvp(sys.argv[2], sys.argv[2:])
seen, typed, deadline = b"", False, time.time() + 20
while time.time() < deadline:
    ready, _, _ = select.select([fd], [], [], 0.1)
    if ready:
        try:
            chunk = os.read(fd, 4096)
        except OSError:
            break
        if not chunk:
            break
        seen += chunk
    if not typed and b"[OK" in seen:
        time.sleep(0.2)
        os.write(fd, b"\r")
        typed = True
open(out, "wb").write(seen.replace(b"\r", b""))
_, status = os.waitpid(pid, 0)
sys.exit(0 if typed and os.WIFEXITED(status) and os.WEXITSTATUS(status) == 0 else 1)
