#!/usr/bin/env python3
"""End-to-end test of the zelsync command-line host through the real library.

Linux: sessions over both roads move real items between the local store and
simulated phones; the store, the phones and the bookkeeping files are
checked after each step. Windows (under Wine): the item store (Outlook)
cannot be reached, so the bookkeeping exports are checked, and the record
exports must fail cleanly. Everything is written inside a scratch folder,
except, under Wine, the sync folder of the Wine prefix, where only files of
this run's own device names are made and removed again.
"""
import argparse
import hashlib
import json
import os
import random
import shutil
import struct
import subprocess
import sys
import tempfile

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)
    return condition


class Host:
    def __init__(self, args, scratch):
        self.args = args
        self.scratch = scratch
        self.windows = args.platform == "windows"
        self.env = dict(os.environ)
        if not self.windows:
            for name, sub in (("XDG_DATA_HOME", "data"), ("XDG_RUNTIME_DIR", "run"), ("HOME", "home"),
                              ("XDG_CONFIG_HOME", "config")):
                path = os.path.join(scratch, sub)
                os.makedirs(path, mode=0o700, exist_ok=True)
                self.env[name] = path
            self.env["ZELSYNC_STORE"] = os.path.join(scratch, "store")

    def path(self, unix_path):
        """A path as the program under test spells it."""
        if self.windows:
            return "Z:" + os.path.abspath(unix_path).replace("/", "\\")
        return unix_path

    def run(self, *arguments, expect=None):
        command = ([self.args.emulator] if self.args.emulator else []) + [self.args.zelsync]
        command += ["--library", self.path(self.args.library)] + list(arguments)
        done = subprocess.run(command, env=self.env, capture_output=True, timeout=300)
        out = done.stdout.decode("utf-8", "replace")
        err = done.stderr.decode("utf-8", "replace")
        if expect is not None and not check(done.returncode == expect,
                                            "zelsync %s: exit %d, expected %d\n%s%s" % (
                                                " ".join(arguments), done.returncode, expect, out, err)):
            pass
        return done.returncode, out, err

    def json(self, *arguments, expect=0):
        code, out, err = self.run(*arguments, expect=expect)
        try:
            return json.loads(out)
        except ValueError:
            check(False, "zelsync %s: no JSON on stdout:\n%s%s" % (" ".join(arguments), out, err))
            return {}


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode("utf-8") if isinstance(text, str) else text)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def snapshot(folder, skip=()):
    """Every file under `folder` with a hash of its bytes."""
    result = {}
    for base, _, files in os.walk(folder):
        for name in files:
            full = os.path.join(base, name)
            rel = os.path.relpath(full, folder)
            if any(part in rel for part in skip):
                continue
            result[rel] = hashlib.sha256(read(full)).hexdigest()
    return result


def vcard(name, phone):
    family, given = name.split(" ")[-1], " ".join(name.split(" ")[:-1])
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nN:%s;%s\r\nFN:%s\r\nTEL;CELL:%s\r\nEND:VCARD\r\n" % (
        family, given, name, phone)


def vnote(body):
    return "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:%s\r\nEND:VNOTE\r\n" % body


def totals(report):
    out = {"sent": 0, "received": 0, "updated": 0, "deleted": 0, "failed": 0}
    for counts in report.get("types", {}).values():
        for key in out:
            out[key] += counts[key]
    return out


# --- byte images of bookkeeping files ---------------------------------------

def field(text, units=260, terminated=True):
    data = text.encode("utf-16-le")
    if terminated:
        return (data + b"\0" * (2 * units))[:2 * units]
    return (data * units)[:2 * units]


def device_record(kind, entry, luid, terminated=True):
    return struct.pack("<I", kind) + field(entry) + field(luid, terminated=terminated)


def test_inspect(host, scratch):
    folder = os.path.join(scratch, "images")
    os.makedirs(folder)
    files = {
        "dev1_pb.DAT": struct.pack("<I", 7) + device_record(2, "E1", "L1") + device_record(3, "E2", "UNDEFINED"),
        "SyncModificationLog.DAT": struct.pack("<II", 2, 0) + field("E1") + struct.pack("<II", 1, 2) + field("E9"),
        "0002a1b2c3d4_SyncMLDB.DAT": struct.pack("<I", 1) + field("20260301T101500Z", 20) + struct.pack("<I", 0)
        + device_record(1, "N1", "5"),
        "SyncMLModificationLog.DAT": struct.pack("<II", 0, 1) + field("N1") + field("20260301T120000Z", 20)
        + struct.pack("<I", 4),
        "SyncMLTempNewDBRecords.DAT": struct.pack("<I", 2) + field("L7"),
    }
    for name, data in files.items():
        write(os.path.join(folder, name), data)
    expected = {
        "dev1_pb.DAT": ("device-db", 2),
        "SyncModificationLog.DAT": ("irmc-log", 2),
        "0002a1b2c3d4_SyncMLDB.DAT": ("syncml-db", 1),
        "SyncMLModificationLog.DAT": ("syncml-log", 1),
        "SyncMLTempNewDBRecords.DAT": ("new-records", 1),
    }
    # One run decodes the whole folder; the single-file form (an object,
    # not a list) is checked on Linux, where a run costs nothing.
    listing = host.json("inspect", "--json", host.path(folder))
    check(isinstance(listing, list) and len(listing) == 5, "inspect of a folder: %s" % listing)
    by_name = {doc["file"].replace("\\", "/").split("/")[-1]: doc for doc in listing}
    for name, (kind, count) in expected.items():
        doc = by_name.get(name, {})
        check(doc.get("format") == kind and len(doc.get("records", [])) == count and not doc.get("damage"),
              "inspect %s: %s" % (name, doc))
    doc = by_name.get("dev1_pb.DAT", {})
    check(doc.get("change_counter") == 7, "device-db counter: %s" % doc)
    check(doc["records"][1]["luid"] == "UNDEFINED" and doc["records"][1]["type_name"] == "calendar",
          "device-db records: %s" % doc)
    doc = by_name.get("SyncModificationLog.DAT", {})
    check([r["kind_name"] for r in doc["records"]] == ["modified", "deleted (hard)"], "irmc log kinds: %s" % doc)
    doc = by_name.get("0002a1b2c3d4_SyncMLDB.DAT", {})
    check(doc["anchor"] == {"kind": 1, "time": "20260301T101500Z", "number": 0, "uses": "time"},
          "syncml anchor: %s" % doc)
    doc = by_name.get("SyncMLModificationLog.DAT", {})
    check(doc["records"][0]["change_time"] == "20260301T120000Z" and doc["records"][0]["change_number"] == 4,
          "syncml log stamp: %s" % doc)
    if not host.windows:
        doc = host.json("inspect", "--json", host.path(os.path.join(folder, "SyncMLTempNewDBRecords.DAT")))
        check(isinstance(doc, dict) and doc.get("records", [{}])[0].get("luid") == "L7", "one file: %s" % doc)
        code, out, err = host.run("inspect", host.path(os.path.join(folder, "dev1_pb.DAT")), expect=0)
        check("change counter: 7" in out and "UNDEFINED" in out, "the table:\n" + out)

    damaged = os.path.join(scratch, "damaged")
    os.makedirs(damaged)
    write(os.path.join(damaged, "x_y.DAT"), b"\1\0")  # shorter than the counter
    write(os.path.join(damaged, "a_SyncMLDB.DAT"), b"\0" * 30)  # shorter than the anchor
    write(os.path.join(damaged, "SyncModificationLog.DAT"), struct.pack("<II", 0, 0) + field("E") + b"\0" * 72)
    write(os.path.join(damaged, "z_cal.DAT"), struct.pack("<I", 0) + device_record(9, "E", "L", terminated=False))
    listing = host.json("inspect", "--json", host.path(damaged), expect=1)
    by_name = {doc["file"].replace("\\", "/").split("/")[-1]: doc for doc in listing}
    for name, fragment in (("x_y.DAT", 2), ("a_SyncMLDB.DAT", 30), ("SyncModificationLog.DAT", 72)):
        doc = by_name.get(name, {})
        check(doc.get("damage") and doc.get("fragment") and doc["fragment"]["size"] == fragment,
              "damaged %s: %s" % (name, doc))
    doc = by_name.get("z_cal.DAT", {})
    check(doc["records"][0]["luid"]["terminated"] is False and doc["records"][0]["type_name"] is None
          and doc["notes"], "unterminated LUID: %s" % doc)
    if host.windows:
        return
    code, out, err = host.run("inspect", host.path(os.path.join(damaged, "x_y.DAT")), expect=1)
    check("shorter than its 4-byte header" in out, "damage in the table: %s" % out)
    write(os.path.join(damaged, "mystery.bin"), b"\0" * 5)
    code, out, err = host.run("inspect", host.path(os.path.join(damaged, "mystery.bin")), expect=1)
    check("--type" in err, "unknown kind names the option: %s" % err)
    host.run("inspect", host.path(os.path.join(damaged, "missing.DAT")), expect=1)


def test_usage(host, scratch):
    phone = host.path(os.path.join(scratch, "usage-phone"))
    if host.windows:
        code, out, err = host.run("sync", "--help", expect=0)
        check("--interrupt-after" in out, "sync --help:\n" + out)
        host.run("sync", "bluetooth", "--device", phone, expect=2)
        return
    for sub in ([], ["sync"], ["inspect"], ["store"], ["store", "add"], ["phone"], ["demo"]):
        host.run(*(sub + ["--help"]), expect=0)
    host.run(expect=2)
    host.run("sync", "bluetooth", "--device", phone, expect=2)
    host.run("sync", "syncml", expect=2)
    host.run("sync", "irmc", "--device", phone, "--interrupt-after", "1", expect=2)
    host.run("sync", "syncml", "--device", phone, "--address", "nothex", expect=2)
    host.run("inspect", "--type", "spreadsheet", "x", expect=2)
    host.run("--library", host.path(os.path.join(scratch, "no-such-library")), "sync", "irmc", "--device", phone,
             expect=2)
    check(not os.path.exists(os.path.join(scratch, "usage-phone")), "bad usage wrote nothing")


# --- Linux: real items ---------------------------------------------------------

def store_items(host, kind):
    return host.json("store", "list", kind, "--json")


def sync(host, road, phone, *extra, expect=0):
    return host.json("sync", road, "--device", phone, "--json", *extra, expect=expect)


def bookkeeping(host):
    folder = os.path.join(host.env["XDG_DATA_HOME"], "ZelBtOutlookSync")
    return {doc["file"].split("/")[-1]: doc for doc in host.json("inspect", "--json", folder)}


def test_road(host, scratch, road):
    phone = os.path.join(scratch, "phone-" + road)
    store = host.env["ZELSYNC_STORE"]
    mine = "Mine %s" % road
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone " + mine, "+1 555 0100"))
    write(os.path.join(phone, "notes", "own.vnt"), vnote("Phone note " + road))

    report = sync(host, road, phone)
    moved = totals(report)
    pc_items = sum(len(store_items(host, t)) for t in ("contacts", "calendar", "notes", "mail"))
    check(report.get("completed") and moved["failed"] == 0, "%s first session: %s" % (road, report))
    check(moved["received"] == 2, "%s: the phone's two objects reach the PC: %s" % (road, moved))
    check(moved["sent"] == pc_items - 2, "%s: every PC item reaches the phone (%d): %s" % (road, pc_items, moved))
    state = json.loads(read(os.path.join(phone, "phone.json")))
    check(all(item["hash"] for item in state["items"]), "%s: every phone object in step" % road)
    contacts = store_items(host, "contacts")
    check(any(("Phone " + mine) in c["summary"] for c in contacts), "%s: phone contact in the store" % road)

    # The bookkeeping ties every phone LUID to a store item.
    files = bookkeeping(host)
    if road == "irmc":
        db = files.get(state["device_id"] + "_pb.DAT")
    else:
        db = files.get(state["address"] + "_SyncMLDB.DAT")
        check(db and db["anchor"]["time"] == state["anchor"]["time"], "syncml: anchor stored: %s" % db)
        check(not any(name.endswith("_Temp.DAT") or name == "SyncMLTempNewDBRecords.DAT" for name in files),
              "syncml: no backups left: %s" % list(files))
    check(db is not None, "%s: the database exists: %s" % (road, list(files)))
    if db:
        mapped = {(r["type_name"], r["luid"]): r["entry_id"] for r in db["records"]}
        phone_contacts = {i["luid"] for i in state["items"] if i["type"] == "contact"}
        store_ids = {c["id"] for c in contacts}
        for luid in phone_contacts:
            check(mapped.get(("contact", luid)) in store_ids, "%s: contact LUID %s mapped to a store item: %s" % (
                road, luid, db["records"]))

    report = sync(host, road, phone)
    check(totals(report) == {"sent": 0, "received": 0, "updated": 0, "deleted": 0, "failed": 0},
          "%s: a second session moves nothing: %s" % (road, report))

    # A change on each side moves once.
    alice = [c for c in store_items(host, "contacts") if c["summary"].startswith("Alice")][0]
    host.run("store", "edit", "contacts", alice["id"], "--phone", "+44 7700 900" + ("1" if road == "irmc" else "2"),
             expect=0)
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone " + mine, "+1 555 0199"))
    report = sync(host, road, phone)
    # PC changes reach the modification logs through the store's change
    # scanner, which the host runs before every session.
    scanner = not any("no store change scanner" in note for note in report["notes"])
    check(scanner, "%s: the store's change scanner ran: %s" % (road, report["notes"]))
    moved = totals(report)
    check(moved["updated"] == (2 if scanner else 1) and moved["failed"] == 0,
          "%s: one change each way: %s" % (road, report))
    alice_luid = [e["luid"] for e in report["events"] if e["direction"] == "to-phone" and e["action"] == "changed"]
    state = json.loads(read(os.path.join(phone, "phone.json")))
    files_by_luid = {i["luid"]: i["file"] for i in state["items"] if i["type"] == "contact"}
    if scanner and check(len(alice_luid) == 1, "%s: Alice's change reached the phone: %s" % (road, report["events"])):
        text = read(os.path.join(phone, files_by_luid[alice_luid[0]])).decode("utf-8", "replace")
        check("7700" in text, "%s: the phone's copy of Alice holds the new number:\n%s" % (road, text))
    own = [c for c in store_items(host, "contacts") if ("Phone " + mine) in c["summary"]]
    if check(len(own) == 1, "%s: the phone's contact is in the store once: %s" % (road, own)):
        text = read(own[0]["file"]).decode("utf-8", "replace")
        check("0199" in text, "%s: the store holds the phone's change:\n%s" % (road, text))
    report = sync(host, road, phone)
    check(totals(report)["updated"] == 0 and report["events"] == [], "%s: a change moves only once: %s" % (road, report))

    # A deletion on each side reaches the other.
    pc_note = [n for n in store_items(host, "notes") if n["summary"].startswith("Shopping")][0]
    host.run("store", "delete", "notes", pc_note["id"], expect=0)
    os.remove(os.path.join(phone, "notes", "own.vnt"))
    report = sync(host, road, phone)
    moved = totals(report)
    check(moved["deleted"] == (2 if scanner else 1) and moved["failed"] == 0,
          "%s: one deletion each way: %s" % (road, report))
    check(not any(("Phone note " + road) in n["summary"] for n in store_items(host, "notes")),
          "%s: the phone's note is gone from the store" % road)
    deleted = [e["luid"] for e in report["events"] if e["direction"] == "to-phone" and e["action"] == "deleted"]
    state = json.loads(read(os.path.join(phone, "phone.json")))
    if scanner:
        check(len(deleted) == 1 and not any(i["luid"] == deleted[0] and i["type"] == "note" for i in state["items"]),
              "%s: the PC's deletion reached the phone: %s" % (road, report["events"]))
    report = sync(host, road, phone)
    check(report["events"] == [], "%s: nothing after the deletions: %s" % (road, report))
    # Put the shared PC note back for the other road.
    host.run("store", "add", "notes", "--text", "Shopping list\nmilk", expect=0)
    return phone


def test_rollback_and_dry_run(host, phone):
    store = host.env["ZELSYNC_STORE"]
    sync_folder = os.path.join(host.env["XDG_DATA_HOME"], "ZelBtOutlookSync")
    sync(host, "syncml", phone)  # in step
    write(os.path.join(phone, "contacts", "late.vcf"), vcard("Late Arrival", "+1 555 0123"))
    write(os.path.join(phone, "contacts", "later.vcf"), vcard("Later Arrival", "+1 555 0124"))
    before = (snapshot(store), snapshot(phone), snapshot(sync_folder, skip=("LocalStoreState",)))

    plan = sync(host, "syncml", phone, "--dry-run")
    check(totals(plan)["received"] == 2 and plan["dry_run"], "dry run plans two phone objects: %s" % plan)
    check((snapshot(store), snapshot(phone), snapshot(sync_folder, skip=("LocalStoreState",))) == before,
          "a dry run changes nothing")

    report = sync(host, "syncml", phone, "--interrupt-after", "2", expect=1)
    check(report.get("interrupted") and report.get("rolled_back"), "interrupted session rolled back: %s" % report)
    after = (snapshot(store), snapshot(phone), snapshot(sync_folder, skip=("LocalStoreState",)))
    check(after[0] == before[0], "rollback: the store is as it was:\n%s\n%s" % (before[0], after[0]))
    check(after[1] == before[1], "rollback: the phone is as it was:\n%s\n%s" % (before[1], after[1]))
    check(after[2] == before[2], "rollback: the bookkeeping files are as they were:\n%s\n%s" % (before[2], after[2]))

    report = sync(host, "syncml", phone)
    check(totals(report)["received"] == 2, "after the rollback the objects move: %s" % report)
    late = [c for c in store_items(host, "contacts") if "Arrival" in c["summary"]]
    check(len(late) == 2, "each late contact is in the store once: %s" % late)


def test_linux(host, scratch):
    attachment = os.path.join(scratch, "ticket.txt")
    write(attachment, "Seat 12A\n")
    host.run("store", "add", "contacts", "--name", "Alice Martin", "--phone", "+44 20 7946 0018", expect=0)
    host.run("store", "add", "contacts", "--name", "Bruno Keller", expect=0)
    host.run("store", "add", "calendar", "--summary", "Team meeting", "--start", "20260302T100000",
             "--end", "20260302T110000", expect=0)
    host.run("store", "add", "notes", "--text", "Shopping list\nmilk", expect=0)
    host.run("store", "add", "mail", "--from", "Ana <ana@example.org>", "--subject", "Trip",
             "--text", "Ticket attached", "--attach", attachment, expect=0)
    host.run("store", "add", "contacts", "--summary", "wrong field", expect=2)
    host.run("store", "edit", "contacts", "no-such-id", "--name", "X", expect=1)
    mail = store_items(host, "mail")
    check(len(mail) == 1 and "Trip" in mail[0]["summary"], "store list mail: %s" % mail)
    code, out, err = host.run("store", "show", "mail", mail[0]["id"], expect=0)
    check("ticket.txt" in out and "base64" in out, "the mail carries its attachment:\n" + out)

    irmc_phone = test_road(host, scratch, "irmc")
    syncml_phone = test_road(host, scratch, "syncml")
    test_rollback_and_dry_run(host, syncml_phone)
    test_two_phones(host, irmc_phone, syncml_phone)
    code, out, err = host.run("sync", "irmc", "--device", syncml_phone, expect=2)
    check("SyncML" in err and "phone.json" in err, "a phone keeps its road: " + err)

    demo = os.path.join(scratch, "demo")
    code, out, err = host.run("demo", "--folder", demo, expect=0)
    check("Both phones and the store hold the same" in out and "Every session completed" in out,
          "demo converges:\n" + out + err)


def phone_names(phone, folder, key):
    """The value of `key` (FN, SUMMARY) in every object file of a phone folder, sorted."""
    names = []
    base = os.path.join(phone, folder)
    for name in sorted(os.listdir(base)) if os.path.isdir(base) else []:
        for line in read(os.path.join(base, name)).decode("utf-8", "replace").splitlines():
            if line.split(":", 1)[0].split(";", 1)[0] == key:
                names.append(line.split(":", 1)[1])
    return sorted(names)


def phone_file(phone, folder, text):
    base = os.path.join(phone, folder)
    return [os.path.join(base, n) for n in os.listdir(base) if text in read(os.path.join(base, n)).decode("utf-8", "replace")]


def test_two_phones(host, irmc, syncml):
    """One phone of each road on one store: a change or deletion made through
    either reaches the other phone, once."""
    def in_step(what):
        for road, phone in (("irmc", irmc), ("syncml", syncml), ("irmc", irmc)):
            check(totals(sync(host, road, phone))["failed"] == 0, "%s: %s session without failures" % (what, road))
        contacts = sorted(c["summary"] for c in store_items(host, "contacts"))
        events = sorted(e["summary"].split("  (")[0] for e in store_items(host, "calendar"))
        for phone in (irmc, syncml):
            check(phone_names(phone, "contacts", "FN") == contacts,
                  "%s: %s holds the store's contacts once each: %s / %s" % (
                      what, phone, phone_names(phone, "contacts", "FN"), contacts))
            check(phone_names(phone, "calendar", "SUMMARY") == events,
                  "%s: %s holds the store's events once each: %s / %s" % (
                      what, phone, phone_names(phone, "calendar", "SUMMARY"), events))

    in_step("start")
    # A contact changed on the IrMC phone replaces the SyncML phone's copy.
    bruno = phone_file(irmc, "contacts", "Bruno Keller")
    if check(len(bruno) == 1, "the IrMC phone holds Bruno once: %s" % bruno):
        write(bruno[0], vcard("Bruno Keller", "+41 44 668 1800"))
    in_step("contact changed on the IrMC phone")
    copies = phone_file(syncml, "contacts", "Bruno Keller")
    check(len(copies) == 1 and "668 1800" in read(copies[0]).decode(), "the SyncML phone's Bruno is the new one")
    # An event cancelled on the SyncML phone leaves the IrMC phone too.
    host.run("store", "add", "calendar", "--summary", "Dentist", "--start", "20260305T090000",
             "--end", "20260305T093000", expect=0)
    in_step("event added on the PC")
    for path in phone_file(syncml, "calendar", "Dentist"):
        os.remove(path)
    in_step("event cancelled on the SyncML phone")
    check(not phone_file(irmc, "calendar", "Dentist"), "the IrMC phone no longer holds the cancelled event")


# --- Windows under Wine: bookkeeping, and clean failure of the record exports

def wine_unix_path(windows_path):
    prefix = os.environ.get("WINEPREFIX") or os.environ.get("ZELSYNC_WINEPREFIX") or \
        os.path.expanduser("~/.wine-zelsync")
    drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
    return os.path.join(prefix, "dosdevices", drive + ":", rest)


def test_windows(host, scratch):
    address = "02%010x" % random.getrandbits(40)
    device_id = "e2e-%08x" % random.getrandbits(32)
    phone = os.path.join(scratch, "phone-syncml")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone Contact", "+1 555 0100"))
    report = sync(host, "syncml", host.path(phone), "--address", address, expect=1)
    sync_folder = wine_unix_path(report.get("sync_folder", "C:\\"))
    try:
        check(report.get("completed") and report["types"]["contact"]["failed"] == 1 and totals(report)["sent"] == 0,
              "syncml under Wine: the anchor is stored, the record exports fail cleanly: %s" % report)
        state = json.loads(read(os.path.join(phone, "phone.json")))
        check(state["items"][0]["hash"] is None, "the failed object stays pending on the phone: %s" % state)
        db = host.json("inspect", "--json", report["sync_folder"] + "\\" + address + "_SyncMLDB.DAT")
        check(db.get("anchor", {}).get("time") == state["anchor"]["time"] and db.get("records") == [],
              "syncml database: the phone's anchor, no records: %s" % db)
        check(not os.path.exists(os.path.join(sync_folder, address + "_SyncMLDB_Temp.DAT")),
              "the saved copy is removed after the session")

        phone2 = os.path.join(scratch, "phone-irmc")
        write(os.path.join(phone2, "notes", "own.vnt"), vnote("A note"))
        report = sync(host, "irmc", host.path(phone2), "--device-id", device_id, expect=1)
        check(report["types"]["note"]["failed"] == 1 and not report["errors"],
              "irmc under Wine: the creation fails cleanly, the bookkeeping does not: %s" % report)
    finally:
        for name in os.listdir(sync_folder) if os.path.isdir(sync_folder) else []:
            if name.startswith(address) or name.startswith(device_id):
                os.remove(os.path.join(sync_folder, name))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelsync", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--platform", choices=("linux", "windows"), required=True)
    parser.add_argument("--emulator")
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="zelsync-e2e-")
    try:
        host = Host(args, scratch)
        test_usage(host, scratch)
        test_inspect(host, scratch)
        if host.windows:
            test_windows(host, scratch)
        else:
            test_linux(host, scratch)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d passed, %d failed" % (0 if FAILURES else 1, len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
