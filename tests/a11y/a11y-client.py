#!/usr/bin/python3
"""An assistive client for the box's accessibility tests, through pyatspi.

    a11y-client.py CAPTION TEXT_START [TAB_COMMAND]

Listens to the events a screen reader follows, then prints "ready" and waits (at most
20 s) for an application holding an alert named CAPTION. It checks the tree (the text as
a label beginning with TEXT_START, OK focused and default, Cancel not), presses Tab with
TAB_COMMAND (xdotool unless told) and waits for the focus to move to Cancel, then presses OK through its Action.
It prints "found=MS" (real-time clock) when the box is first in the tree, each event as
"event TYPE NAME DETAIL1", and "PASS" or "FAIL: why" last; it exits 0 on PASS.
"""
import subprocess
import sys
import time

import pyatspi
from gi.repository import GLib

CAPTION, TEXT_START = sys.argv[1], sys.argv[2]
TAB = sys.argv[3].split() if len(sys.argv) > 3 else ["xdotool", "key", "Tab"]
EVENTS = ["object:children-changed", "window:create", "window:activate", "window:deactivate",
          "window:destroy", "object:state-changed:active", "object:state-changed:focused"]

seen = []        # (type, name, detail1) in the order they came
state = {"box": None, "step": "find", "why": None}


def say(line):
    print(line, flush=True)


def fail(why):
    if state["why"] is None:
        state["why"] = why
    loop.quit()


def name_of(accessible):
    try:
        return accessible.name
    except Exception:  # the box may be gone by the time its last events come
        return "?"


def on_event(event):
    entry = (event.type, name_of(event.source), event.detail1)
    seen.append(entry)
    say("event %s %s %d" % entry)
    if state["step"] == "tab" and entry == ("object:state-changed:focused", "Cancel", 1):
        state["step"] = "press"
        GLib.idle_add(press_ok)
    if state["step"] == "closing" and event.type == "object:children-changed:remove":
        GLib.timeout_add(300, loop.quit)


def states(accessible):
    return {pyatspi.stateToString(s) for s in accessible.getState().getStates()}


def find_box():
    desktop = pyatspi.Registry.getDesktop(0)
    for app in desktop:
        try:
            for window in app or []:
                if window.name == CAPTION and window.getRoleName() == "alert":
                    return window
        except Exception:
            continue
    return None


def check_tree(box):
    kids = [(c.getRoleName(), c.name) for c in box]
    say("tree %r %r" % (box.name, kids))
    if [k[0] for k in kids] != ["label", "push button", "push button"]:
        return "children are %r" % kids
    label, ok, cancel = box[0], box[1], box[2]
    text = label.queryText().getText(0, -1)
    if not text.startswith(TEXT_START) or label.name != text:
        return "label reads %r" % text
    if (ok.name, cancel.name) != ("OK", "Cancel"):
        return "buttons are %r %r" % (ok.name, cancel.name)
    if not {"focused", "is default", "focusable"} <= states(ok) or "focused" in states(cancel):
        return "states OK %r Cancel %r" % (states(ok), states(cancel))
    if ok.queryAction().getName(0) != "click" or box.getIndexInParent() != 0:
        return "OK's action is %r" % ok.queryAction().getName(0)
    extents = ok.queryComponent().getExtents(pyatspi.WINDOW_COORDS)
    if extents.width <= 0 or extents.height <= 0:
        return "OK's extents are %r" % (extents,)
    return None


def poll():
    if state["step"] != "find":
        return False
    box = find_box()
    if box is None:
        return True
    say("found=%d" % int(time.time() * 1000))
    state["box"] = box
    why = check_tree(box)
    if why:
        fail(why)
        return False
    state["step"] = "tab"
    GLib.timeout_add(200, lambda: subprocess.call(TAB) and False)
    return False


def press_ok():
    state["step"] = "closing"
    if not state["box"][1].queryAction().doAction(0):
        fail("DoAction on OK answered false")
    return False


for kind in EVENTS:
    pyatspi.Registry.registerEventListener(on_event, kind)
loop = GLib.MainLoop()
GLib.timeout_add(50, poll)
GLib.timeout_add(20000, lambda: fail("timed out at step %s" % state["step"]))
say("ready")
loop.run()

order = [t for t, _, _ in seen]
wanted = ["object:children-changed:add", "window:create", "window:activate",
          "object:state-changed:active"]
at = [order.index(t) if t in order else -1 for t in wanted]
if state["why"] is None and (-1 in at or at != sorted(at)):
    state["why"] = "start events out of order or missing: %r" % order
if state["why"] is None and ("object:state-changed:focused", "OK", 1) not in seen:
    state["why"] = "no focus event for OK"
closing = ["window:deactivate", "window:destroy", "object:children-changed:remove"]
at = [order.index(t) if t in order else -1 for t in closing]
if state["why"] is None and (-1 in at or at != sorted(at)):
    state["why"] = "closing events out of order or missing: %r" % order
say("PASS" if state["why"] is None else "FAIL: " + state["why"])
sys.exit(0 if state["why"] is None else 1)
