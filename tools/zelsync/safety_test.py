#!/usr/bin/env python3
"""End-to-end checks that a session never makes things worse, and that
errors name what is wrong with an exit status to match (Linux, through the
real library): a damaged database stops the session and `reset --device`
starts the phone over without duplicates; an object the PC refuses is
reported once; a dry run sees the PC's changes; a new SyncML phone gets each
object once."""
import argparse
import collections
import json
import os
import shutil
import sys
import tempfile

from end_to_end_test import FAILURES, Host, check, read, snapshot, store_items, sync, totals, vcard, write

TODO = "BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VTODO\r\nSUMMARY:%s\r\nEND:VTODO\r\nEND:VCALENDAR\r\n"


def phone_files(phone, folder):
    path = os.path.join(phone, folder)
    return sorted(n for n in os.listdir(path) if not n.startswith(".")) if os.path.isdir(path) else []


def test_errors(host, scratch):
    code, out, err = host.run("--version", expect=0)
    check(out.startswith("zelsync "), "--version: %r" % out)
    code, out, err = host.run("phone", "--device", os.path.join(scratch, "no-phone"), expect=1)
    check("no-phone" in err and "no such folder" in err, "a missing phone folder is named: %r" % err)
    a_file = os.path.join(scratch, "not-a-folder")
    write(a_file, "x")
    for command in (["--store", a_file, "store", "list"], ["--store", a_file, "sync", "irmc", "--device",
                                                           os.path.join(scratch, "p0")]):
        code, out, err = host.run(*command, expect=1)
        check(a_file in err and "not a folder" in err and "no items" not in out, "%s: %r" % (command, err))


def test_damage_and_reset(host, scratch):
    store = host.env["ZELSYNC_STORE"]
    sync_folder = os.path.join(host.env["XDG_DATA_HOME"], "ZelBtOutlookSync")
    phone = os.path.join(scratch, "phone-reset")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Greta Lind", "+46 8 555 0111"))
    sync(host, "irmc", phone)
    contacts, on_phone = len(store_items(host, "contacts")), phone_files(phone, "contacts")
    device_id = json.loads(read(os.path.join(phone, "phone.json")))["device_id"]
    database = os.path.join(sync_folder, device_id + "_pb.DAT")
    with open(database, "r+b") as f:
        f.truncate(4 + 1044 + 100)  # a whole record and a fragment
    before = (snapshot(store), snapshot(phone))
    code, out, err = host.run("sync", "irmc", "--device", phone, expect=1)
    check(database in err and "reset --device" in err, "the damaged database is named with the next step: %r" % err)
    check((snapshot(store), snapshot(phone)) == before, "a refused session changes nothing")

    # The copy an unfinished session leaves would bring the partner back.
    os.makedirs(os.path.join(phone, ".session"))
    shutil.copy(os.path.join(phone, "phone.json"), os.path.join(phone, ".session"))
    host.run("reset", "--device", phone, expect=0)
    check(not os.path.exists(database), "reset removed the phone's database")
    check(not os.path.exists(os.path.join(phone, ".session")), "reset dropped the unfinished session's copy")
    report = sync(host, "irmc", phone)
    moved = totals(report)
    paired = sum(counts.get("paired", 0) for counts in report["types"].values())
    check(moved["sent"] == 0 and moved["received"] == 0 and paired >= contacts,
          "after a reset the first session pairs and copies nothing: %s" % report["types"])
    check(len(store_items(host, "contacts")) == contacts and phone_files(phone, "contacts") == on_phone,
          "no duplicates after a reset")
    check(sync(host, "irmc", phone)["events"] == [], "the session after moves nothing")


def test_refused_once(host, scratch):
    phone = os.path.join(scratch, "phone-refused")
    sync(host, "syncml", phone)
    todo = os.path.join(phone, "calendar", "todo.vcs")
    write(todo, TODO % "Buy milk")
    report = sync(host, "syncml", phone, expect=1)
    failed = [e for e in report["events"] if not e["ok"]]
    check(len(failed) == 1 and "to-do" in failed[0]["message"] and failed[0]["file"] == "calendar/todo.vcs",
          "the refused to-do is reported with its file and reason: %s" % failed)
    report = sync(host, "syncml", phone, expect=0)
    check(report["events"] == [], "an unchanged refused object is not offered again: %s" % report["events"])
    check(os.path.exists(todo), "the refused object stays on the phone")
    write(todo, TODO % "Buy oat milk")
    report = sync(host, "syncml", phone, expect=1)
    check(totals(report)["failed"] == 1, "a refused object is offered again once it changes: %s" % report)
    os.remove(todo)
    sync(host, "syncml", phone)


def test_dry_run_sees_pc(host, scratch):
    phone = os.path.join(scratch, "phone-dry")
    sync(host, "irmc", phone)
    sync_folder = os.path.join(host.env["XDG_DATA_HOME"], "ZelBtOutlookSync")
    alice = [c for c in store_items(host, "contacts") if c["summary"].startswith("Alice")][0]
    host.run("store", "edit", "contacts", alice["id"], "--phone", "+44 7700 900555", expect=0)
    host.run("store", "add", "contacts", "--name", "Hana Ito", expect=0)
    before = (snapshot(host.env["ZELSYNC_STORE"]), snapshot(phone), snapshot(sync_folder))
    plan = sync(host, "irmc", phone, "--dry-run")
    to_phone = collections.Counter((e["action"], e["entry_id"]) for e in plan["events"] if e["direction"] == "to-phone")
    check(to_phone[("changed", alice["id"])] == 1 and plan["types"]["contact"]["sent"] == 1,
          "the dry run sees the PC's edit and its new item: %s" % plan["events"])
    check((snapshot(host.env["ZELSYNC_STORE"]), snapshot(phone), snapshot(sync_folder)) == before,
          "the dry run changes nothing, the scanner's state included")
    report = sync(host, "irmc", phone)
    check(totals(report)["updated"] == 1 and totals(report)["sent"] == 1, "the session does as planned: %s" % report)


def test_new_syncml_phone_once(host, scratch):
    # A change the SyncML log holds from before this phone existed.
    bruno = [c for c in store_items(host, "contacts") if c["summary"].startswith("Bruno")][0]
    host.run("store", "edit", "contacts", bruno["id"], "--phone", "+41 44 555 0999", expect=0)
    sync(host, "irmc", os.path.join(scratch, "phone-dry"))
    phone = os.path.join(scratch, "phone-new-syncml")
    report = sync(host, "syncml", phone)
    moves = collections.Counter(e["entry_id"] for e in report["events"] if e["direction"] == "to-phone")
    check(moves and max(moves.values()) == 1, "each PC item reaches a new phone once: %s" % report["events"])
    check(len(phone_files(phone, "contacts")) == len(store_items(host, "contacts")), "one copy of each contact")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelsync", required=True)
    parser.add_argument("--library", required=True)
    args = parser.parse_args()
    args.platform, args.emulator = "linux", None
    scratch = tempfile.mkdtemp(prefix="zelsync-safety-")
    try:
        host = Host(args, scratch)
        host.run("store", "add", "contacts", "--name", "Alice Martin", "--phone", "+44 20 7946 0018", expect=0)
        host.run("store", "add", "contacts", "--name", "Bruno Keller", expect=0)
        host.run("store", "add", "notes", "--text", "Shopping list\nmilk", expect=0)
        test_errors(host, scratch)
        test_damage_and_reset(host, scratch)
        test_refused_once(host, scratch)
        test_dry_run_sees_pc(host, scratch)
        test_new_syncml_phone_once(host, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
