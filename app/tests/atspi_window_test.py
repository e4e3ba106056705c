#!/usr/bin/python3
"""The window as Orca reads it: its tree on the desktop's accessibility bus (AT-SPI).

Run by scripts/test-accessibility, which starts a virtual display, a private D-Bus session,
the simulator (its address in SIM_URL, its JSON lines in SIM_EVENTS) and the window. Like a
screen reader's user this test only reads the tree and uses its actions: it types the
simulator's address into the port box, ticks the connect box, picks a kind of scroll and
moves the speed slider, and checks that each reached the display; then it switches the
language from the keyboard. It prints the tree heard, and exits 1 naming what is wrong.
"""

import json
import os
import re
import sys
import time

import pyatspi

# The roles of the window's controls, and containers that need no name of their own.
CONTROL_ROLES = {"label", "combo box", "check box", "radio button", "push button", "text", "slider", "panel"}
CONTAINERS = {"application", "filler", "frame", "window"}

DOWN_KEYSYM = 0xFF54

failures = []


def fail(message):
    failures.append(message)
    print("FAIL:", message)


def wait_for(what, check, seconds=10.0):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        result = check()
        if result:
            return result
        time.sleep(0.1)
    fail(f"{what}: not within {seconds:.0f} s")
    return None


def find_application(name):
    def look():
        for app in pyatspi.Registry.getDesktop(0):
            if app is not None and app.name == name:
                return app
        return None

    return wait_for(f"the application {name} on the accessibility bus", look, 20.0)


def children(node):
    return [child for child in node if child is not None]


def walk(node, depth=0):
    """Every node in reading order with its depth; a combo box's list and field stay inside it."""
    yield node, depth
    if node.getRoleName() == "combo box":
        return
    for child in children(node):
        yield from walk(child, depth + 1)


def labelled_by(node):
    for relation in node.getRelationSet():
        if relation.getRelationType() == pyatspi.RELATION_LABELLED_BY:
            for i in range(relation.getNTargets()):
                target = relation.getTarget(i)
                if target is not None and target.name:
                    return target.name
    return ""


def spoken_name(node):
    """A combo box's name here is its text: Orca names it by the label that points at it."""
    if node.getRoleName() == "combo box":
        return labelled_by(node)
    return node.name


def value_of(node):
    if node.getRoleName() == "combo box":
        return node.name
    try:
        return f"{node.queryValue().currentValue:g}"
    except NotImplementedError:
        pass
    if node.getRoleName() == "text":
        text = node.queryText()
        return text.getText(0, text.characterCount)
    return ""


def heard(app):
    lines = []
    for node, depth in walk(app):
        states = node.getState()
        line = "  " * depth + f'{node.getRoleName()} "{spoken_name(node)}"'
        value = value_of(node)
        if value and value != spoken_name(node):
            line += f" = {value}"
        if states.contains(pyatspi.STATE_CHECKED):
            line += " (checked)"
        if not states.contains(pyatspi.STATE_SENSITIVE):
            line += " (unavailable)"
        lines.append(line)
    return "\n".join(lines)


def check_tree(app, when):
    radios_checked = 0
    for node, _ in walk(app):
        role = node.getRoleName()
        if role in CONTAINERS:
            continue
        name = spoken_name(node)
        where = f"{when}: {role} {name!r}"
        if role not in CONTROL_ROLES:
            fail(f"{where}: a role the window has no control of")
        if not name.strip():
            fail(f"{where}: no name")
        elif re.fullmatch(r"[\d\s]+", name):
            fail(f"{where}: a bare number for a name")
        if role == "radio button" and node.getState().contains(pyatspi.STATE_CHECKED):
            radios_checked += 1
    if radios_checked != 1:
        fail(f"{when}: {radios_checked} kinds of scroll checked, not 1")


def controls(app, role):
    return [node for node, _ in walk(app) if node.getRoleName() == role]


def do_action(node, *names):
    actions = node.queryAction()
    available = [actions.getName(i) for i in range(actions.nActions)]
    for i, action in enumerate(available):
        if action in names:
            actions.doAction(i)
            return
    fail(f'{node.getRoleName()} "{spoken_name(node)}": none of {names} among its actions {available}')


def simulator_events():
    with open(os.environ["SIM_EVENTS"], encoding="utf-8") as events:
        return [json.loads(line) for line in events if line.startswith("{")]


def display_heard(event, value=None):
    def look():
        return any(e.get("event") == event and (value is None or e.get("value") == value) for e in simulator_events())

    return wait_for(f"the display hearing {event} {value if value is not None else ''}".rstrip(), look)


def by_name(nodes, name):
    for node in nodes:
        if spoken_name(node) == name:
            return node
    fail(f"no control named {name!r} among {[spoken_name(n) for n in nodes]}")
    raise SystemExit(1)


def main():
    app = find_application("kv58-controller")
    if app is None:
        return 1
    wait_for("the window's controls", lambda: controls(app, "check box"))
    check_tree(app, "disconnected")

    port_box = by_name(controls(app, "combo box"), "PORT")
    field = [child for child in children(port_box) if child.getRoleName() == "text"][0]
    field.queryEditableText().setTextContents(os.environ["SIM_URL"])
    do_action(controls(app, "check box")[0], "Toggle", "Press")
    if not wait_for("the connect box ticked", lambda: controls(app, "check box")[0].getState().contains(pyatspi.STATE_CHECKED)):
        return 1
    display_heard("open")

    do_action(by_name(controls(app, "radio button"), "pionowy"), "Press", "Toggle", "Check")
    display_heard("scroll-type", 1)
    by_name(controls(app, "slider"), "szybkość").queryValue().currentValue = 9
    display_heard("speed", 9)
    wait_for("the speed shown as 9", lambda: by_name(controls(app, "label"), "szybkość: 9"))

    check_tree(app, "connected")
    print(heard(app))

    # The language by the keyboard, as a screen reader's user picks it: focus in the language
    # box, then Down for the next language. The virtual display has no window manager to give
    # the window the keyboard: the script that started it has (xdotool).
    language = by_name(controls(app, "combo box"), "JĘZYK")
    field = [child for child in children(language) if child.getRoleName() == "text"][0]
    field.queryComponent().grabFocus()
    if not wait_for("focus in the language box", lambda: field.getState().contains(pyatspi.STATE_FOCUSED)):
        return 1
    pyatspi.Registry.generateKeyboardEvent(DOWN_KEYSYM, None, pyatspi.KEY_SYM)
    if wait_for("the window in English", lambda: any(spoken_name(n) == "LANGUAGE" for n in controls(app, "combo box"))):
        check_tree(app, "connected, in English")
        print(heard(app))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
