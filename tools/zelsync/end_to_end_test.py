#!/usr/bin/env python3
"""End-to-end test of the zelsync command-line host through the real library.

Linux: sessions of both schemes move items between the local store and
simulated phones (new, changed, deleted, conflicting), dry runs and rolled
back sessions change nothing, damaged files are refused and a reset starts
over without duplicates, a refused object is reported once (and again on
--retry), errors carry their exit status, and nothing is left outside the
store, the phones and the sync folder (two phones on one store are the
seeded random sessions' part). Under Wine only the decoding of bookkeeping
files runs here: whole Windows sessions are the stand-in Outlook's sessions
test. Everything is written inside a scratch
folder.
"""
import collections
import os
import shutil
import struct
import sys
import tempfile

from host_harness import (Host, arguments, check, field, finish, object_files, phone_state, put, snapshot, text_of,
                          totals, vcard, vnote, write)

TODO = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\nSUMMARY:%s\r\nEND:VTODO\r\nEND:VCALENDAR\r\n"
NOTHING = {"sent": 0, "received": 0, "updated": 0, "deleted": 0, "failed": 0}


def device_record(kind, entry, luid, terminated=True):
    return struct.pack("<I", kind) + field(entry) + field(luid, terminated=terminated)


def contacts(phone, text=""):
    return object_files(os.path.join(phone, "contacts"), text)


def dig(doc, path):
    """The value at "records/1/luid" in a decoded file, or None."""
    for key in path.split("/"):
        try:
            doc = doc[int(key) if isinstance(doc, list) else key]
        except (LookupError, TypeError, ValueError):
            return None
    return doc


def test_inspect(host, scratch):
    """One file of each kind decodes, with its values; damaged ones are
    flagged, with the size of a trailing fragment, and make the exit status 1."""
    images = {  # name: bytes, format, records, {field: value} (damaged ones with a fragment or "damaged")
        "dev1_pb.DAT": (struct.pack("<I", 7) + device_record(2, "Entr\u00e9e", "L1") + device_record(3, "E2", "UNDEFINED"),
                        "device-db", 2, {"change_counter": 7, "records/1/luid": "UNDEFINED", "records/1/offset": 1048,
                                         "records/1/type_name": "calendar", "records/0/entry_id": "Entr\u00e9e"}),
        # The last record is one the library marked removed.
        "SyncModificationLog.DAT": (struct.pack("<II", 2, 0) + field("E1") + struct.pack("<II", 1, 2) + field("E9")
                                    + struct.pack("<II", 0xFFFFFFFF, 1) + field("A"), "irmc-log", 3,
                                    {"records/0/kind_name": "modified", "records/1/kind_name": "deleted (hard)",
                                     "records/2/removed": True}),
        "0002a1b2c3d4_SyncMLDB.DAT": (struct.pack("<I", 1) + field("20260301T101500Z", 40) + struct.pack("<I", 0)
                                      + device_record(1, "N1", "5"), "syncml-db", 1,
                                      {"anchor": {"kind": 1, "time": "20260301T101500Z", "number": 0, "uses": "time"},
                                       "records/0/luid": "5", "records/0/offset": 48}),
        "SyncMLModificationLog.DAT": (struct.pack("<II", 0, 1) + field("N1") + field("20260301T120000Z", 40)
                                      + struct.pack("<I", 4), "syncml-log", 1,
                                      {"records/0/change_time": "20260301T120000Z", "records/0/change_number": 4}),
        "SyncMLTempNewDBRecords.DAT": (struct.pack("<I", 2) + field("L7"), "new-records", 1, {"records/0/luid": "L7"}),
        "SyncMLTempUpdatedRecords.DAT": (struct.pack("<I", 2) + field("L1") + field("E1") + field("E9"),
                                         "updated-records", 1, {"records/0/entry_id": "E1", "records/0/new_entry_id": "E9"}),
        "SyncMLSessionOpen.DAT": (struct.pack("<IIII", 0x22334455, 0x11, 1, 0), "session-marker", 0,
                                  {"device": "001122334455", "backup_flag": 1}),
        # A pending update names its items.
        "D1_DB_PendingChange.DAT": (struct.pack("<II", 2, 1) + field("L1") + field("E1") + field("E9"), "pending-change",
                                    1, {"records/0/kind_name": "update", "records/0/new_entry_id": "E9", "notes": []}),
        "x_y.DAT": (b"\1\0", "device-db", 0, {"fragment/size": 2}),  # shorter than the counter
        "damaged/SyncModificationLog.DAT": (struct.pack("<II", 0, 0) + field("E") + b"\0" * 72, "irmc-log", 1,
                                            {"fragment/size": 72}),
        "z_cal.DAT": (struct.pack("<I", 0) + device_record(9, "E", "L", terminated=False), "device-db", 1,
                      {"records/0/luid/terminated": False, "records/0/type_name": None, "damaged": True}),
    }
    folder = os.path.join(scratch, "images")
    put(folder, {name: data for name, (data, *_) in images.items()})
    listing = host.json("inspect", "--json", host.path(folder), host.path(os.path.join(folder, "damaged")), expect=1)
    by_name = {doc["file"].replace("\\", "/"): doc for doc in listing}
    for name, (_, kind, count, values_) in images.items():
        doc = by_name.get(host.path(os.path.join(folder, name)).replace("\\", "/"), {})
        damaged = "fragment/size" in values_ or values_.get("damaged", False)
        check(doc.get("format") == kind and len(doc.get("records", [])) == count and bool(doc.get("damage")) ==
              damaged and all(dig(doc, path) == value for path, value in values_.items() if path != "damaged"),
              "inspect %s: %s" % (name, doc))

def test_errors(host, scratch):
    """Bad usage exits 2 and writes nothing; a fault a person can mend exits 1
    and names what is wrong."""
    phone, a_file = os.path.join(scratch, "usage-phone"), os.path.join(scratch, "not-a-folder")
    write(a_file, "x")
    cases = [  # arguments, exit status, what stderr says
        ([], 2, ""), (["sync", "bluetooth", "--device", phone], 2, ""), (["sync", "syncml"], 2, "--device"),
        (["sync", "irmc", "--device", phone, "--interrupt-after", "1"], 2, "--interrupt-after"),
        (["sync", "syncml", "--device", phone, "--address", "nothex"], 2, "--address"),
        (["sync", "irmc", "--device", phone, "--device-id", "../x"], 2, "--device-id"),
        (["--library", os.path.join(scratch, "no-such-library"), "sync", "irmc", "--device", phone], 2,
         "no-such-library"),
        (["store", "add", "contacts", "--summary", "wrong field"], 2, "--summary"),
        (["store", "edit", "contacts", "no-such-id", "--name", "X"], 1, "no-such-id"),
        (["phone", "--device", os.path.join(scratch, "no-phone")], 1, "no such folder"),
        (["--store", a_file, "store", "list"], 1, "not a folder"),
        (["--store", a_file, "sync", "irmc", "--device", phone], 1, "not a folder"),
    ]
    # A damaged or tampered phone state file is refused, and named.
    items = '{"zelsync_phone": 1, "items": [%s]}'
    for text in ['not json', '{"zelsync_phone": 2}', '{"zelsync_phone": 1, "road": "infrared"}'] + [items % i for i in (
            '{"luid": "", "type": "contact", "file": "contacts/a.vcf"}', '{"type": "note", "file": "notes/a.vnt"}',
            '{"luid": "1", "type": "contact", "file": "../escape.vcf"}', '{"luid": "1", "type": "fax", "file": "a"}',
            '{"luid": "1", "type": "note", "file": "notes/a.vnt"}, {"luid": "1", "type": "note", "file": "notes/b.vnt"}')]:
        write(os.path.join(scratch, "bad-phone%d" % len(cases), "phone.json"), text)
        cases.append((["sync", "irmc", "--device", os.path.join(scratch, "bad-phone%d" % len(cases))], 1, "phone.json"))
    for command, status, message in cases:
        err = host.run(*command, expect=status)[2]
        check(message in err, "zelsync %s names the fault: %r" % (" ".join(command), err))
    check(not os.path.exists(phone), "bad usage wrote nothing")


# --- Linux: real items ---------------------------------------------------------

def test_road(host, scratch, road):
    """Each side's new objects reach the other once, and SyncML stores the
    anchor and leaves no backup. (Changes each way are the dry run's and the
    seeded random sessions' part, deletions and the bookkeeping tying each
    phone object to its item the random sessions'.)"""
    phone = os.path.join(scratch, "phone-" + road)
    put(phone, {"contacts/own.vcf": vcard("Phone Mine" + road.capitalize(), "+1 555 0100"),
                "notes/own.vnt": vnote("Phone note " + road), "contacts/readme.txt": "not a contact",
                "notes/.hidden.vnt": vnote("not an object")})
    report = host.sync(road, phone)
    pc_items = sum(len(host.store(kind)) for kind in ("contacts", "calendar", "notes", "mail"))
    check(report.get("completed") and totals(report) == dict(NOTHING, received=2, sent=pc_items - 2),
          "%s: the phone's two objects reach the PC, the PC's %d items the phone: %s" % (road, pc_items, report))
    state = phone_state(phone)
    if road == "syncml":
        files = {doc["file"].split("/")[-1]: doc for doc in host.json("inspect", "--json", host.sync_folder)}
        db = files.get(state["address"] + "_SyncMLDB.DAT", {})
        check(db.get("anchor", {}).get("time") == state["anchor"]["time"], "syncml: anchor stored: %s" % db)
        check(not any(name.endswith("_Temp.DAT") or name == "SyncMLTempNewDBRecords.DAT" for name in files),
              "syncml: no backups left: %s" % list(files))
    check(totals(host.sync(road, phone)) == NOTHING, "%s: a second session moves nothing" % road)
    return phone


def test_conflicts(host, phones):
    """Changed on both sides: the PC's version wins. Deleted on the phone (or
    forgotten by it) but changed on the PC: it comes back. Changed on the
    phone but deleted on the PC: the deletion wins. Each moves once."""
    for road, phone in phones.items():
        for number, (on_phone, on_pc) in enumerate((("edit", "edit"), ("delete", "edit"), ("forget", "edit"),
                                                     ("edit", "delete"))):
            name, what = "Conflict Case%d%s" % (number, road), "%s: %s on the phone, %s on the PC" % (
                road, on_phone, on_pc)
            host.run("store", "add", "contacts", "--name", name, "--phone", "+1 555 0000", expect=0)
            host.sync(road, phone)
            [path] = contacts(phone, name)
            write(path, vcard(name, "+1 555 0001")) if on_phone == "edit" else os.remove(path)
            if on_phone == "forget":
                items = phone_state(phone)["items"]
                phone_state(phone, items=[i for i in items if os.path.join(phone, i["file"]) != path])
            [item] = host.find("contacts", name)
            host.run("store", on_pc, "contacts", item["id"], *(("--phone", "+1 555 0002") if on_pc == "edit" else ()),
                     expect=0)
            events = host.sync(road, phone)["events"]
            check([(e["direction"], e["action"], e["ok"]) for e in events] == [
                ("to-phone", "changed" if on_pc == "edit" else "deleted", True)],
                "%s: one change to the phone: %s" % (what, events))
            # Whether each copy on the phone, and in the store, is the PC's version.
            held = ([("555 0002" in text_of(path)) for path in contacts(phone, name)],
                    [("555 0002" in text_of(item["file"])) for item in host.find("contacts", name)])
            check(held == (([], []) if on_pc == "delete" else ([True], [True])), "%s: %s: %s" % (
                what, "gone from both sides" if on_pc == "delete" else "each side holds the PC's version once", held))
            check(host.sync(road, phone)["events"] == [], "%s: the next session moves nothing" % what)


def test_dry_run(host, phones):
    """A dry run sees the changes on both sides, changes nothing (the store
    scanner's state included), and the session then does as it planned. The
    SyncML phone spells its address with colons and capitals, and its link
    first drops after the phone took the PC's items and the PC one of the
    phone's: the session is rolled back and leaves everything as it was."""
    for road, phone in phones.items():
        host.sync(road, phone)
        if road == "syncml":
            address = phone_state(phone)["address"]
            phone_state(phone, address=":".join(address[i:i + 2] for i in range(0, 12, 2)).upper())
        alice = host.find("contacts", "Alice")[0]
        host.run("store", "edit", "contacts", alice["id"], "--phone", "+44 7700 900555" + road, expect=0)
        host.run("store", "add", "contacts", "--name", "Dry Run" + road.capitalize(), expect=0)
        write(os.path.join(phone, "contacts", "dry.vcf"), vcard("Dry Phone" + road.capitalize(), "+1 555 0101"))
        sides = (host.env["ZELSYNC_STORE"], phone, host.sync_folder)
        # (The session's scan of the store logs the PC's edit before its save point.)
        rolled_back = ("LocalStoreState", "SyncModificationLog", "SyncMLModificationLog")
        before, before_session = snapshot(*sides), snapshot(*sides, skip=rolled_back)
        plan = host.sync(road, phone, "--dry-run")
        to_phone = collections.Counter((e["action"], e["entry_id"]) for e in plan["events"]
                                       if e["direction"] == "to-phone")
        check(plan.get("dry_run") and to_phone[("changed", alice["id"])] == 1 and
              totals(plan) == dict(NOTHING, sent=1, received=1, updated=1),
              "%s: the dry run sees the PC's edit and both new objects: %s" % (road, plan))
        check(snapshot(*sides) == before, "%s: a dry run changes nothing" % road)
        if road == "syncml":
            report = host.sync(road, phone, "--interrupt-after", "3", expect=1)
            check(report.get("interrupted") and report.get("rolled_back") and [e["direction"] for e in report[
                  "events"]] == ["to-phone", "to-phone", "to-pc"], "the dropped link is rolled back: %s" % report)
            after = snapshot(*sides, skip=rolled_back)
            check(after == before_session, "rollback: %s not as they were" % [
                side for side, a, b in zip(("store", "phone", "bookkeeping"), before_session, after) if a != b])
        check(totals(host.sync(road, phone)) == totals(plan), "%s: the session does as planned" % road)
        check(all(len(host.find("contacts", name)) == len(contacts(phone, name)) == 1 for name in (
              "Dry Run" + road.capitalize(), "Dry Phone" + road.capitalize())), "%s: each new contact once" % road)


def test_damage_and_reset(host, scratch, road):
    """A damaged database stops the session, named with the way out; after
    `reset --device` the phone pairs with the PC and nothing is copied twice."""
    phone = os.path.join(scratch, "phone-reset-" + road)
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Greta Lind" + road.capitalize(), "+46 8 555 0111"))
    host.sync(road, phone)
    stored = len(host.store("contacts"))
    state = phone_state(phone)
    db = os.path.join(host.sync_folder, state["device_id"] + "_pb.DAT" if road == "irmc"
                      else state["address"] + "_SyncMLDB.DAT")
    os.truncate(db, os.path.getsize(db) - 100)
    before = snapshot(host.env["ZELSYNC_STORE"], phone)
    code, out, err = host.run("sync", road, "--device", phone, expect=1)
    check(db in err and "reset --device" in err, "%s: the damaged database is named: %r" % (road, err))
    check(snapshot(host.env["ZELSYNC_STORE"], phone) == before, "%s: a refused session changes nothing" % road)
    # The copy an unfinished session leaves would bring the partner back.
    os.makedirs(os.path.join(phone, ".session"))
    shutil.copy(os.path.join(phone, "phone.json"), os.path.join(phone, ".session"))
    host.run("reset", "--device", phone, expect=0)
    check(not os.path.exists(os.path.join(phone, ".session")), "%s: reset dropped the session's copy" % road)
    report = host.sync(road, phone)
    check(totals(report) == NOTHING and report["types"]["contact"]["paired"] == stored,
          "%s: after a reset the first session pairs and copies nothing: %s" % (road, report["types"]))
    check(host.sync(road, phone)["events"] == [], "%s: the session after moves nothing" % road)


def test_new_syncml_phone(host, scratch, irmc):
    """A new SyncML phone gets each PC item once, also one whose change the
    log held from before the phone existed. An object the PC refuses is
    reported once, with its file and reason, stays on the phone, and is
    offered again only once it changes."""
    host.run("store", "edit", "contacts", host.find("contacts", "Bruno")[0]["id"], "--phone", "+41 44 555 0999",
             expect=0)
    host.sync("irmc", irmc)
    phone = os.path.join(scratch, "phone-new-syncml")
    moves = collections.Counter(e["entry_id"] for e in host.sync("syncml", phone)["events"])
    check(moves and max(moves.values()) == 1, "each PC item reaches a new phone once: %s" % moves)
    check(len(contacts(phone)) == len(host.store("contacts")), "one copy of each")
    todo = os.path.join(phone, "calendar", "todo.vcs")
    write(todo, TODO % "Buy milk")
    failed = [e for e in host.sync("syncml", phone, expect=1)["events"] if not e["ok"]]
    check(len(failed) == 1 and "to-do" in failed[0]["message"] and failed[0]["file"] == "calendar/todo.vcs",
          "the refused to-do is reported with its file and reason: %s" % failed)
    check(host.sync("syncml", phone)["events"] == [] and os.path.exists(todo), "not offered again while unchanged")
    check(totals(host.sync("syncml", phone, "--retry", expect=1))["failed"] == 1, "offered again on --retry")
    write(todo, TODO % "Buy oat milk")
    check(totals(host.sync("syncml", phone, expect=1))["failed"] == 1, "offered again once it changed")


def test_linux(host, scratch):
    test_errors(host, scratch)
    host.env["TMPDIR"] = os.path.join(scratch, "tmp")
    os.makedirs(host.env["TMPDIR"])
    attachment = os.path.join(scratch, "ticket.txt")
    write(attachment, "Seat 12A\n")
    for item in (["contacts", "--name", "Alice Martin", "--phone", "+44 20 7946 0018"],
                 ["contacts", "--name", "Bruno Keller"], ["notes", "--text", "Shopping list\nmilk"],
                 ["calendar", "--summary", "Team meeting", "--start", "20260302T100000", "--end", "20260302T110000"],
                 ["mail", "--from", "Ana <ana@example.org>", "--subject", "Trip", "--text", "Ticket attached",
                  "--attach", attachment]):
        host.run("store", "add", *item, expect=0)
    phones = {road: test_road(host, scratch, road) for road in ("irmc", "syncml")}
    test_conflicts(host, phones)
    test_dry_run(host, phones)
    code, out, err = host.run("sync", "irmc", "--device", phones["syncml"], expect=2)
    check("SyncML" in err and "phone.json" in err, "a phone keeps its scheme: " + err)
    for road in phones:
        test_damage_and_reset(host, scratch, road)
    test_new_syncml_phone(host, scratch, phones["irmc"])
    code, out, err = host.run("demo", "--folder", os.path.join(scratch, "demo"), expect=0)
    check("Both phones and the store hold the same" in out and "Every session completed" in out,
          "demo converges:\n" + out + err)
    # The host's scratch copies and the library's handed-out files are gone.
    left = snapshot(*(host.env[name] for name in ("HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR", "TMPDIR")))
    check(left == [{}] * 4 and os.listdir(host.env["XDG_DATA_HOME"]) == ["ZelBtOutlookSync"],
          "nothing is written outside the store, the phones and the sync folder: %s" % left)


def main():
    args = arguments()
    scratch = tempfile.mkdtemp(prefix="zelsync-e2e-")
    try:
        host = Host(args, scratch)
        test_inspect(host, scratch)
        if not host.windows:
            test_linux(host, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
