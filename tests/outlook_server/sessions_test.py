#!/usr/bin/env python3
"""Whole sessions of the real host and library against the stand-in Outlook.

Everything runs under Wine in a prefix of this test's own, made in a scratch
folder and removed after: the stand-in is registered there as the local
server "Outlook.Application", so the library reaches it as it reaches
Outlook, through CoCreateInstance or the running object table and
cross-process IDispatch calls. The user's profile folders and the temporary
folder have non-ASCII names. Each session's report, the stand-in's store,
the phone, the bookkeeping files and the stand-in's call log are checked.
"""
import argparse
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

# The host's end-to-end test has the file helpers.
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "zelsync"))
from end_to_end_test import read, totals, vnote, write  # noqa: E402

FAILURES = []
WINE = "/usr/lib/wine/wine64"
WINESERVER = "/usr/lib/wine/wineserver"

# Default folders of the object model.
INBOX, CALENDAR, CONTACTS, NOTES = 6, 9, 10, 12


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)
    return condition


def vcard(name, phone):
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:%s\r\nTEL;CELL:%s\r\nEND:VCARD\r\n" % (name, phone)


def vcalendar(summary):
    return ("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:%s\r\n"
            "DTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" % summary)


class Wine:
    """A Wine prefix of the test's own."""

    def __init__(self, scratch):
        self.prefix = os.path.join(scratch, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all",
                        WINEDLLOVERRIDES="mscoree,mshtml=")

    def boot(self):
        self.run("wineboot", "--init", timeout=300)
        # The first activation after wineboot can hang on RpcSs until the
        # server has been restarted.
        self.stop()

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True, timeout=120)

    def command(self, *args):
        return [WINE] + list(args)

    def run(self, *args, timeout=300):
        return subprocess.run(self.command(*args), env=self.env, capture_output=True, timeout=timeout)

    def start(self, *args):
        return subprocess.Popen(self.command(*args), env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def unix(self, windows_path):
        drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
        if drive == "z":
            return "/" + rest
        return os.path.join(self.prefix, "dosdevices", drive + ":", rest)

    def import_registry(self, scratch, values):
        """Sets (key, name, kind, data) values through a .reg file."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, name, kind, data in values:
            lines.append("[%s]" % key)
            if kind == "dword":
                lines.append('"%s"=dword:%08x' % (name, data))
            else:
                lines.append('"%s"="%s"' % (name, data.replace("\\", "\\\\")))
            lines.append("")
        path = os.path.join(scratch, "settings.reg")
        write(path, b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        done = self.run("regedit", "/S", self.path(path))
        check(done.returncode == 0, "regedit: %s" % done.stderr)


class StandIn:
    """The stand-in's store file and call log."""

    def __init__(self, wine, folder, exe):
        self.wine = wine
        self.folder = folder
        self.exe = exe
        self.store = os.path.join(folder, "store.json")
        self.log = os.path.join(folder, "calls.log")
        self.running = None
        os.makedirs(folder, exist_ok=True)

    def register(self):
        done = self.wine.run(self.exe, "/regserver", self.wine.path(self.store))
        return check(done.returncode == 0, "the stand-in registers: %s" % done.stderr)

    def load(self):
        return json.loads(read(self.store))

    def save(self, doc):
        write(self.store, json.dumps(doc, indent=1, ensure_ascii=False))

    def items(self, folder=None):
        return [i for i in self.load()["items"] if folder is None or i["folder"] == folder]

    def lines(self):
        return read(self.log).decode("utf-8", "replace").splitlines() if os.path.exists(self.log) else []

    def wait_for(self, pattern, since, seconds=30):
        deadline = time.time() + seconds
        while time.time() < deadline:
            if any(re.search(pattern, line) for line in self.lines()[since:]):
                return True
            time.sleep(0.2)
        return False

    def start_running(self):
        """An Outlook the user started: in the running object table."""
        mark = len(self.lines())
        self.running = self.wine.start(self.exe, "/run", self.wine.path(self.store))
        return check(self.wait_for(r"^ready running", mark), "the running stand-in starts")

    def stop(self):
        """Stops every instance: the one the test started and any COM started."""
        mark = len(self.lines())
        write(os.path.join(self.folder, "stop"), "")
        if self.running:
            self.running.wait(timeout=60)
            self.running = None
        # A COM-started instance still up notices the stop file too.
        time.sleep(0.5)
        self.wait_for(r"^exit", mark, seconds=2)
        os.remove(os.path.join(self.folder, "stop"))
        exits = [l for l in self.lines() if l.startswith("exit ")]
        check(all(l.startswith("exit live 0") for l in exits), "every instance ends with no object alive: %s" % exits)


class Host:
    def __init__(self, wine, zelsync, library):
        self.wine, self.zelsync, self.library = wine, zelsync, library

    def sync(self, road, phone, *extra, expect=0):
        done = self.wine.run(self.zelsync, "--library", self.wine.path(self.library), "sync", road,
                             "--device", self.wine.path(phone), "--json", *extra)
        out = done.stdout.decode("utf-8", "replace")
        check(done.returncode == expect, "sync %s %s: exit %d, expected %d\n%s%s" % (
            road, " ".join(extra), done.returncode, expect, out, done.stderr.decode("utf-8", "replace")))
        try:
            return json.loads(out)
        except ValueError:
            check(False, "sync %s: no JSON report" % road)
            return {"types": {}, "events": [], "errors": ["no report"], "notes": []}


# --- bookkeeping files -------------------------------------------------------

def text_field(data):
    units = data.decode("utf-16-le")
    return units.split("\0", 1)[0]


def device_records(path, header):
    """{(type, luid): entry ID} of a device record database."""
    data = read(path) if os.path.exists(path) else b""
    records = {}
    for at in range(header, len(data) - 1043, 1044):
        kind = struct.unpack_from("<I", data, at)[0]
        entry = text_field(data[at + 4:at + 524])
        luid = text_field(data[at + 524:at + 1044])
        records[(kind, luid)] = entry
    return records


def log_record(kind_of_type, kind, entry_id, stamp=None):
    field = (entry_id.encode("utf-16-le") + b"\0" * 520)[:520]
    record = struct.pack("<II", kind_of_type, kind) + field
    if stamp is not None:
        record += (stamp.encode("utf-16-le") + b"\0" * 40)[:40] + struct.pack("<I", 0)
    return record


def append(path, data):
    with open(path, "ab") as f:
        f.write(data)


# --- the call log ------------------------------------------------------------

CALL = re.compile(r"^(\w+)\.(\w+) (\w+) \((.*)\) -> 0x([0-9A-F]{8})$")
PROPERTIES = {"Session", "Items", "Count", "EntryID", "SenderName", "SentOnBehalfOfName", "To", "CC",
              "Subject", "SentOn", "Importance", "HTMLBody", "UnRead", "BodyFormat", "Attachments", "Body",
              "FullName", "AllDayEvent", "FileName"}


def check_calls(lines, what):
    """The rules every stretch of the call log keeps."""
    calls = [CALL.match(line) for line in lines]
    check(not [l for l in lines if l.startswith("!")], "%s: the stand-in refused calls:\n%s" % (
        what, "\n".join(l for l in lines if l.startswith("!"))))
    for match in filter(None, calls):
        cls, member, flags, args = match.group(1), match.group(2), match.group(3), match.group(4)
        wanted = ("GET", "PUT") if member in PROPERTIES else ("METHOD",)
        if not check(flags in wanted, "%s: %s.%s called as %s" % (what, cls, member, flags)):
            break
        if member == "Item":
            check(re.fullmatch(r"VT_I4 [1-9]\d*", args), "%s: %s.Item index %s" % (what, cls, args))
    last_call = max([i for i, m in enumerate(calls) if m] or [-1])
    released = [i for i, line in enumerate(lines) if line == "live 0" or line.startswith("exit live 0")]
    check(last_call < 0 or (released and released[-1] > last_call),
          "%s: objects still alive after the last call:\n%s" % (what, "\n".join(lines[-5:])))
    return [m.groups() for m in calls if m]


def check_lookups(lines, what):
    """Each member's DISPID is looked up once per class and name in one process."""
    seen = {}
    for line in lines:
        m = re.match(r"^(\w+) ids (\w+)$", line)
        if m:
            seen[m.groups()] = seen.get(m.groups(), 0) + 1
    again = {k: n for k, n in seen.items() if n > 1}
    check(not again, "%s: DISPIDs looked up again: %s" % (what, again))


def session(host, standin, road, phone, what, *extra, expect=0):
    """One session, and the checks of the stretch of call log it made."""
    mark = len(standin.lines())
    report = host.sync(road, phone, *extra, expect=expect)
    lines = standin.lines()[mark:]
    calls = check_calls(lines, what)
    check_lookups(lines, what)
    return report, totals(report), calls, lines


# --- the scenario ------------------------------------------------------------

def initial_store(folder):
    ticket = os.path.join(folder, "ticket.bin")
    write(ticket, b"Seat 12A\r\n\x00\xff")
    mail = lambda **props: {"class": "mail", "folder": INBOX, "props": props}
    items = [
        # Names a file cannot carry must not stop the folder.
        mail(Subject="Lunch?", SenderName="Bea", HTMLBody="<p>12:30?</p>", SentOn=46081.5),
        mail(Subject="Invoice", SenderName='"ACME" <support>', HTMLBody="<p>Due</p>", SentOn=46081.6),
        dict(mail(Subject="Trip", SenderName="Ana Souza", To="me@example.org", HTMLBody="<p>Ticket</p>",
                  SentOn=46082.5, Importance=1, UnRead=True),
             attachments=[{"name": "ticket.txt", "file": ticket}]),
        {"class": "other", "folder": INBOX, "props": {"Subject": "Meeting request"}},
        {"class": "note", "folder": NOTES, "props": {"Body": "Shopping list\r\nmilk"}},
        {"class": "contact", "folder": CONTACTS, "props": {"FullName": "Alice Martin"},
         "card": vcard("Alice Martin", "+44 20 7946 0018")},
        {"class": "contact", "folder": CONTACTS, "props": {"FullName": "Bruno Keller"},
         "card": vcard("Bruno Keller", "+49 30 1234567")},
        {"class": "appointment", "folder": CALENDAR, "props": {"Subject": "Team meeting"},
         "card": vcalendar("Team meeting")},
    ]
    for n, item in enumerate(items):
        item["entry_id"] = "00000000E2E0%04d" % n
    return {"window": True, "next_id": 100, "items": items, "fail": []}


def test_irmc(host, standin, scratch, sync_folder):
    phone = os.path.join(scratch, "phone-irmc")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone Contact", "+1 555 0100"))
    write(os.path.join(phone, "notes", "own.vnt"), vnote("Phone note"))
    write(os.path.join(phone, "calendar", "own.vcs"), vcalendar("Phone appointment"))
    before = {i["entry_id"] for i in standin.items()}

    report, moved, calls, _ = session(host, standin, "irmc", phone, "irmc first session")
    check(report.get("completed") and moved["failed"] == 0, "irmc: first session: %s" % report)
    check(moved["sent"] == 7 and moved["received"] == 3, "irmc: 7 PC items out, 3 phone objects in: %s" % moved)
    check(not [c for c in calls if c[1] in ("Quit", "Logoff")], "irmc: no Quit or Logoff on the user's Outlook")

    store = standin.items()
    new = [i for i in store if i["entry_id"] not in before]
    check(sorted(i["class"] for i in new) == ["appointment", "contact", "note"],
          "irmc: the phone's objects are items now: %s" % new)
    check(all(i["entry_id"] for i in store), "irmc: no item without an entry ID")
    state = json.loads(read(os.path.join(phone, "phone.json")))
    records = device_records(os.path.join(sync_folder, state["device_id"] + "_pb.DAT"), 4)
    ids = {i["entry_id"] for i in store}
    check(records and all(entry in ids for entry in records.values()),
          "irmc: every record names an item: %s" % records)
    mail_files = os.listdir(os.path.join(phone, "inbox")) if os.path.isdir(os.path.join(phone, "inbox")) else []
    check(len(mail_files) == 3, "irmc: the three mails reached the phone: %s" % mail_files)
    return phone, report


def by_entry(report):
    """{entry ID: phone file} of the objects a session sent to the phone."""
    return {e["entry_id"]: e["file"] for e in report["events"] if e["direction"] == "to-phone" and e["ok"]}


def test_irmc_changes(host, standin, phone, first, sync_folder):
    doc = standin.load()
    alice = [i for i in doc["items"] if i["props"].get("FullName") == "Alice Martin"][0]
    alice["card"] = vcard("Alice Martin", "+44 7700 900123")
    shopping = [i for i in doc["items"] if i["class"] == "note" and i["props"]["Body"].startswith("Shopping")][0]
    doc["items"].remove(shopping)
    standin.save(doc)
    # What the change tracker outside the library would log.
    append(os.path.join(sync_folder, "SyncModificationLog.DAT"),
           log_record(2, 0, alice["entry_id"]) + log_record(1, 1, shopping["entry_id"]))
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone Contact", "+1 555 0199"))
    os.remove(os.path.join(phone, "notes", "own.vnt"))

    report, moved, _, _ = session(host, standin, "irmc", phone, "irmc changes")
    check(moved["updated"] == 2 and moved["deleted"] == 2 and moved["failed"] == 0 and moved["sent"] == 0,
          "irmc: one change and one deletion each way: %s" % report)
    files = by_entry(first)
    alice_file = os.path.join(phone, files.get(alice["entry_id"], "missing"))
    check(os.path.exists(alice_file) and b"7700 900123" in read(alice_file),
          "irmc: the phone's Alice has the new number")
    own = [i for i in standin.items(CONTACTS) if i["props"].get("FullName") == "Phone Contact"]
    check(len(own) == 1 and "0199" in own[0].get("card", ""), "irmc: the store has the phone's change: %s" % own)
    check(not [i for i in standin.items(NOTES) if i["props"].get("Body", "").startswith("Phone note")],
          "irmc: the phone's deleted note is gone from the store")
    shopping_file = files.get(shopping["entry_id"], "missing")
    check(not os.path.exists(os.path.join(phone, shopping_file)), "irmc: the PC's deletion reached the phone")

    # A note whose Save fails is not created: nothing recorded, no item left,
    # and the phone keeps it. The host remembers the refusal, so the next
    # session offers it again when asked to retry.
    doc = standin.load()
    doc["fail"] = [{"call": "NoteItem.Save", "times": 1}]
    standin.save(doc)
    write(os.path.join(phone, "notes", "second.vnt"), vnote("Second note"))
    report, _, calls, _ = session(host, standin, "irmc", phone, "irmc failed save", expect=1)
    check(report["types"]["note"]["failed"] == 1, "irmc: a failed Save fails the creation: %s" % report)
    saves = [i for i, c in enumerate(calls) if c[:2] == ("NoteItem", "Save")]
    check(saves and ("NoteItem", "Delete") in [c[:2] for c in calls[saves[0]:]],
          "irmc: the unsaved note is discarded")
    state = json.loads(read(os.path.join(phone, "phone.json")))
    records = device_records(os.path.join(sync_folder, state["device_id"] + "_nt.DAT"), 4)
    check(all(records.values()), "irmc: no record without an entry ID: %s" % records)
    report, moved, _, _ = session(host, standin, "irmc", phone, "irmc after the failed save", "--retry")
    check(moved["received"] == 1, "irmc: the note arrives next time: %s" % report)
    check(len([i for i in standin.items(NOTES) if i["props"].get("Body") == "Second note"]) == 1,
          "irmc: the second note is in the store once")


def test_syncml(host, standin, scratch, irmc_phone, sync_folder):
    phone = os.path.join(scratch, "phone-syncml")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Sync Contact", "+1 555 0200"))
    # The Trip mail as the IrMC phone got it, attachment inside, comes back
    # from this phone under another subject.
    inbox = os.path.join(irmc_phone, "inbox")
    trip = [read(os.path.join(inbox, name)) for name in os.listdir(inbox)]
    trip = ([t for t in trip if b"Trip" in t] or [b""])[0]
    check(b"ticket.txt" in trip, "the vMessage carries the attachment (MailAttachment on)")
    write(os.path.join(phone, "inbox", "back.vmg"), trip.replace(b"Trip", b"Trip back"))
    doc = standin.load()
    pc_items = len([i for i in doc["items"] if i["class"] != "other"])

    first, moved, _, _ = session(host, standin, "syncml", phone, "syncml first session")
    check(first.get("completed") and moved["failed"] == 0 and moved["received"] == 2 and moved["sent"] == pc_items,
          "syncml: first session (%d PC items): %s" % (pc_items, first))
    back = [i for i in standin.items(INBOX) if i["props"].get("Subject", "").startswith("Trip back")]
    if check(len(back) == 1 and back[0].get("attachments"), "syncml: the mail with its attachment: %s" % back):
        attachment = back[0]["attachments"][0]
        check(attachment["name"].endswith("ticket.txt") and
              read(standin.wine.unix(attachment["file"])) == b"Seat 12A\r\n\x00\xff",
              "syncml: the attachment's name and bytes: %s" % attachment)
    state = json.loads(read(os.path.join(phone, "phone.json")))
    mapped = device_records(os.path.join(sync_folder, state["address"] + "_SyncMLDB.DAT"), 48)
    ids = {i["entry_id"] for i in standin.items()}
    check(mapped and all(entry in ids for entry in mapped.values()), "syncml: records name items: %s" % mapped)

    # An interrupted session is rolled back: the items it made are deleted.
    write(os.path.join(phone, "contacts", "late.vcf"), vcard("Late Arrival", "+1 555 0123"))
    write(os.path.join(phone, "contacts", "later.vcf"), vcard("Later Arrival", "+1 555 0124"))
    before = sorted(i["entry_id"] for i in standin.items())
    report, _, _, _ = session(host, standin, "syncml", phone, "syncml rollback", "--interrupt-after", "1", expect=1)
    check(report.get("rolled_back"), "syncml: the interrupted session is rolled back: %s" % report)
    check(sorted(i["entry_id"] for i in standin.items()) == before, "syncml: the store is as it was")
    # With them, a change and a deletion on the PC, as the change tracker
    # logs them (stamped after the last anchor).
    doc = standin.load()
    bruno = [i for i in doc["items"] if i["props"].get("FullName") == "Bruno Keller"][0]
    bruno["card"] = vcard("Bruno Keller", "+49 30 7654321")
    meeting = [i for i in doc["items"] if i["class"] == "appointment" and i["props"]["Subject"] == "Team meeting"][0]
    doc["items"].remove(meeting)
    standin.save(doc)
    append(os.path.join(sync_folder, "SyncMLModificationLog.DAT"),
           log_record(2, 0, bruno["entry_id"], "29991231T235959Z") +
           log_record(3, 1, meeting["entry_id"], "29991231T235959Z"))
    files = by_entry(first)
    report, moved, _, _ = session(host, standin, "syncml", phone, "syncml changes")
    check(moved["received"] == 2 and moved["updated"] == 1 and moved["deleted"] == 1 and moved["failed"] == 0,
          "syncml: after the rollback the objects move, with the PC's change and deletion: %s" % report)
    late = [i for i in standin.items(CONTACTS) if "Arrival" in i["props"].get("FullName", "")]
    check(len(late) == 2, "syncml: each late contact is in the store once: %s" % late)
    bruno_file = os.path.join(phone, files.get(bruno["entry_id"], "missing"))
    check(os.path.exists(bruno_file) and b"7654321" in read(bruno_file), "syncml: the phone's Bruno changed")
    check(not os.path.exists(os.path.join(phone, files.get(meeting["entry_id"], "missing"))),
          "syncml: the PC's deleted meeting is gone from the phone")


def quits_per_connection(lines):
    """The Quit calls of each connection an instance was created for."""
    counts, current = [], None
    for line in lines:
        if line.startswith("create "):
            current = 0
            counts.append(current)
        elif line.startswith("Application.Quit "):
            if current is None:
                return None
            counts[-1] += 1
    return counts


def test_no_window(host, standin, scratch):
    """Quit and Logoff only for an instance the library started."""
    doc = standin.load()
    doc["window"] = False
    standin.save(doc)

    # The user's Outlook, running minimised with no window.
    phone = os.path.join(scratch, "phone-nowindow")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Quiet Contact", "+1 555 0300"))
    write(os.path.join(phone, "notes", "own.vnt"), vnote("Quiet note"))
    if standin.start_running():
        report, moved, calls, _ = session(host, standin, "irmc", phone, "no window, user's instance")
        check(moved["received"] == 2 and moved["sent"] == 0,
              "no window: creations go on, reading does not: %s" % report)
        check(not [c for c in calls if c[1] in ("Quit", "Logoff")],
              "no window: the user's running instance is never quit or logged off")
        standin.stop()

    # No instance running: each connection starts one, and quits it.
    write(os.path.join(phone, "contacts", "more.vcf"), vcard("Started Contact", "+1 555 0301"))
    write(os.path.join(phone, "notes", "more.vnt"), vnote("Started note"))
    report, moved, calls, lines = session(host, standin, "irmc", phone, "no window, started by the library")
    check(moved["received"] == 2, "started: the creations go through: %s" % report)
    quits = quits_per_connection(lines)
    check(quits is not None and quits and max(quits) == 1,
          "started: Quit once per connection that needs it, never more: %s" % quits)
    logoffs = [i for i, c in enumerate(calls) if c[:2] == ("Namespace", "Logoff")]
    check(len(logoffs) == 1, "started: Logoff after the contact import only: %d" % len(logoffs))
    standin.stop()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelsync", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--server", required=True)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="zelsync-com-")
    wine = Wine(scratch)
    started = time.time()
    try:
        wine.boot()
        # Non-ASCII names for the user's local application data, the
        # temporary folder and the programs' own folder.
        users = os.path.join(wine.prefix, "drive_c", "users")
        local = "C:\\users\\Zoë Łukasz\\AppData\\Local"
        temp = "C:\\users\\Zoë Łukasz\\Tëmp ☂"
        for path in (local, temp):
            os.makedirs(wine.unix(path), exist_ok=True)
        wine.import_registry(scratch, [
            ("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders",
             "Local AppData", "sz", local),
            ("HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
             "Local AppData", "sz", local),
            ("HKEY_CURRENT_USER\\Environment", "TEMP", "sz", temp),
            ("HKEY_CURRENT_USER\\Environment", "TMP", "sz", temp),
            ("HKEY_CURRENT_USER\\SOFTWARE\\Tolvane\\Default\\PIMSettings", "MailAttachment", "dword", 1),
        ])
        programs = os.path.join(scratch, "Prögramme")
        os.makedirs(programs)
        for source in (args.zelsync, args.library, args.server):
            shutil.copy(source, programs)
        exe = lambda source: wine.path(os.path.join(programs, os.path.basename(source)))
        standin = StandIn(wine, os.path.join(scratch, "Outlook-Daten"), exe(args.server))
        host = Host(wine, exe(args.zelsync), os.path.join(programs, os.path.basename(args.library)))
        sync_folder = wine.unix(local + "\\ZelBtOutlookSync")
        check(os.path.isdir(users), "the prefix has its users folder")

        standin.save(initial_store(standin.folder))
        if standin.register() and standin.start_running():
            phone, first = test_irmc(host, standin, scratch, sync_folder)
            test_irmc_changes(host, standin, phone, first, sync_folder)
            test_syncml(host, standin, scratch, phone, sync_folder)
            standin.stop()
            test_no_window(host, standin, scratch)
    finally:
        wine.stop()
        if os.environ.get("ZELSYNC_KEEP_SCRATCH"):
            print("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    print("%.0f s; %d failed" % (time.time() - started, len(FAILURES)))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
