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
WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
INBOX, CALENDAR, CONTACTS, NOTES = 6, 9, 10, 12  # default folders of the object model
CLSID = "{8E4F1B2A-6C3D-4E5F-9A0B-1C2D3E4F5A6B}"  # the stand-in's class


def expect(what, checks):
    """Each (condition, message) of `checks` that fails is a failure of `what`."""
    for condition, message in checks:
        if not condition:
            FAILURES.append("%s: %s" % (what, message))
            print("FAILED: %s: %s" % (what, message), flush=True)


def vcard(name, phone):
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nFN:%s\r\nTEL;CELL:%s\r\nEND:VCARD\r\n" % (name, phone)


def vcalendar(summary):
    return ("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:%s\r\n"
            "DTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" % summary)


class Wine:
    """A Wine prefix of the test's own."""

    def __init__(self, scratch):
        self.prefix = os.path.join(scratch, "prefix")
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")

    def stop(self):
        subprocess.run([WINESERVER, "-k"], env=self.env, capture_output=True)
        subprocess.run([WINESERVER, "-w"], env=self.env, capture_output=True, timeout=120)

    def run(self, *args):
        return subprocess.run([WINE] + list(args), env=self.env, capture_output=True, timeout=300)

    def start(self, *args):
        return subprocess.Popen([WINE] + list(args), env=self.env, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def path(self, unix_path):
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\")

    def unix(self, windows_path):
        drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
        return "/" + rest if drive == "z" else os.path.join(self.prefix, "dosdevices", drive + ":", rest)

    def set_registry(self, scratch, values):
        """Sets (key, name, value) values, a string or a DWORD, through a .reg
        file; a name of None is the key's default value."""
        lines = ["Windows Registry Editor Version 5.00", ""]
        for key, name, value in values:
            data = ("dword:%08x" % value if isinstance(value, int) else
                    '"%s"' % value.replace("\\", "\\\\").replace('"', '\\"'))
            lines += ["[%s]" % key, "%s=%s" % ('"%s"' % name if name else "@", data), ""]
        path = os.path.join(scratch, "settings.reg")
        write(path, b"\xff\xfe" + "\r\n".join(lines).encode("utf-16-le"))
        done = self.run("regedit", "/S", self.path(path))
        expect("regedit", [(done.returncode == 0, done.stderr)])


class StandIn:
    """The stand-in's store file and call log."""

    def __init__(self, wine, folder, exe):
        self.wine, self.folder, self.exe = wine, folder, exe
        self.store, self.log = os.path.join(folder, "store.json"), os.path.join(folder, "calls.log")
        self.running = None

    def load(self):
        return json.loads(read(self.store))

    def save(self, doc):
        write(self.store, json.dumps(doc, indent=1, ensure_ascii=False))

    def edit(self, dropped=None, changed=None, card=None, **top):
        """Deletes `dropped`, gives `changed` a new card and sets `top` keys,
        as the user would in Outlook between sessions."""
        doc = dict(self.load(), **top)
        doc["items"] = [dict(i, card=card) if i == changed else i for i in doc["items"] if i != dropped]
        self.save(doc)

    def items(self, folder=None, **props):
        """The items in `folder` (any) whose props contain `props`."""
        return [i for i in self.load()["items"] if folder in (None, i["folder"]) and
                all(value in i["props"].get(name, "") for name, value in props.items())]

    def lines(self):
        return read(self.log).decode("utf-8", "replace").splitlines() if os.path.exists(self.log) else []

    def start_running(self):
        """An Outlook the user started: in the running object table."""
        mark = len(self.lines())
        self.running = self.wine.start(self.exe, self.wine.path(self.store), "/run")
        deadline = time.time() + 30
        while time.time() < deadline and "ready running" not in self.lines()[mark:]:
            time.sleep(0.2)
        started = "ready running" in self.lines()[mark:]
        expect("the running stand-in", [(started, "it starts")])
        return started

    def stop(self):
        """Stops every instance: the one the test started and any COM started."""
        write(os.path.join(self.folder, "stop"), "")
        if self.running:
            self.running.wait(timeout=60)
            self.running = None
        time.sleep(1)  # a COM-started instance still up notices the stop file too
        os.remove(os.path.join(self.folder, "stop"))
        exits = [l for l in self.lines() if l.startswith("exit ")]
        expect("stopping", [(all(l.startswith("exit live 0") for l in exits), "objects alive at exit: %s" % exits)])


# --- bookkeeping files -------------------------------------------------------

def device_records(sync_folder, phone, name, header):
    """{(type, luid): entry ID} of the phone's device record database `name`
    (a format with the device ID or address in {})."""
    state = json.loads(read(os.path.join(phone, "phone.json")))
    path = os.path.join(sync_folder, name.format(**state))
    data = read(path) if os.path.exists(path) else b""
    text = lambda raw: raw.decode("utf-16-le").split("\0", 1)[0]
    return {(struct.unpack_from("<I", data, at)[0], text(data[at + 524:at + 1044])): text(data[at + 4:at + 524])
            for at in range(header, len(data) - 1043, 1044)}


def log_records(path, *records):
    """Appends (type, kind, entry ID[, stamp]) records to a change log, as
    the change tracker outside the library does."""
    with open(path, "ab") as f:
        for kind_of_type, kind, entry_id, *stamp in records:
            f.write(struct.pack("<II", kind_of_type, kind) + (entry_id.encode("utf-16-le") + b"\0" * 520)[:520])
            if stamp:
                f.write((stamp[0].encode("utf-16-le") + b"\0" * 40)[:40] + struct.pack("<I", 0))


# --- the call log ------------------------------------------------------------

CALL = re.compile(r"^(\w+)\.(\w+) (\w+) -> 0x([0-9A-F]{8})$")


def session(host, standin, road, phone, what, *extra, code=0):
    """One session of the host, with the checks every stretch of call log
    it made keeps: the stand-in refused no call (flags, argument types,
    unknown DISPIDs, index 0), each DISPID was looked up once per class
    and name, and no object was alive after the last call. Gives the
    report, its totals, the calls (class, member, flags, HRESULT) and
    the log lines."""
    mark = len(standin.lines())
    zelsync, library = host
    done = standin.wine.run(zelsync, "--library", library, "sync", road, "--device", standin.wine.path(phone),
                            "--json", *extra)
    out = done.stdout.decode("utf-8", "replace")
    try:
        report = json.loads(out)
    except ValueError:
        report = {"types": {}, "events": [], "errors": ["no report"]}
    lines = standin.lines()[mark:]
    calls = [m.groups() for m in map(CALL.match, lines) if m]
    lookups = [l for l in lines if re.match(r"^\w+ ids \w+$", l)]
    last_call = max([i for i, l in enumerate(lines) if CALL.match(l)] or [-1])
    released = [i for i, l in enumerate(lines) if l == "live 0" or l.startswith("exit live 0")]
    expect(what, [
        (done.returncode == code, "exit %d, expected %d\n%s%s" % (
            done.returncode, code, out, done.stderr.decode("utf-8", "replace"))),
        (not [l for l in lines if l.startswith("!")], "refused calls:\n" + "\n".join(l for l in lines if l[0] == "!")),
        (len(lookups) == len(set(lookups)), "DISPIDs looked up again: %s" % sorted(lookups)),
        (last_call < 0 or (released and released[-1] > last_call), "objects alive after the last call"),
    ])
    return report, totals(report), calls, lines


def by_entry(report):
    """{entry ID: phone file} of the objects a session sent to the phone."""
    return {e["entry_id"]: e["file"] for e in report["events"] if e["direction"] == "to-phone" and e["ok"]}


def has(phone, file, text):
    path = os.path.join(phone, file or "missing")
    return os.path.exists(path) and text in read(path)


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
    """IrMC against the user's running Outlook: a first session, changes and
    deletions each way, and a creation whose Save fails."""
    phone = os.path.join(scratch, "phone-irmc")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone Contact", "+1 555 0100"))
    write(os.path.join(phone, "notes", "own.vnt"), vnote("Phone note"))
    write(os.path.join(phone, "calendar", "own.vcs"), vcalendar("Phone appointment"))
    before = {i["entry_id"] for i in standin.items()}
    first, moved, calls, _ = session(host, standin, "irmc", phone, "irmc first")
    store = standin.items()
    records = device_records(sync_folder, phone, "{device_id}_pb.DAT", 4)
    inbox = os.path.join(phone, "inbox")
    expect("irmc first", [
        (first.get("completed") and moved == dict(sent=7, received=3, updated=0, deleted=0, failed=0),
         "7 PC items out, 3 phone objects in: %s" % first),
        (not [c for c in calls if c[1] in ("Quit", "Logoff")], "no Quit or Logoff on the user's Outlook"),
        (sorted(i["class"] for i in store if i["entry_id"] not in before) == ["appointment", "contact", "note"],
         "the phone's objects are items now: %s" % store),
        (all(i["entry_id"] for i in store), "no item without an entry ID"),
        (records and set(records.values()) <= {i["entry_id"] for i in store}, "records name items: %s" % records),
        (len(os.listdir(inbox)) == 3 if os.path.isdir(inbox) else False, "the three mails reached the phone"),
    ])

    alice = standin.items(FullName="Alice Martin")[0]
    shopping = standin.items(NOTES, Body="Shopping")[0]
    standin.edit(shopping, alice, vcard("Alice Martin", "+44 7700 900123"))
    log_records(os.path.join(sync_folder, "SyncModificationLog.DAT"),
                (2, 0, alice["entry_id"]), (1, 1, shopping["entry_id"]))
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Phone Contact", "+1 555 0199"))
    os.remove(os.path.join(phone, "notes", "own.vnt"))
    report, moved, _, _ = session(host, standin, "irmc", phone, "irmc changes")
    files = by_entry(first)
    own = standin.items(CONTACTS, FullName="Phone Contact")
    expect("irmc changes", [
        (moved == dict(sent=0, received=0, updated=2, deleted=2, failed=0), "one each way: %s" % report),
        (has(phone, files.get(alice["entry_id"]), b"7700 900123"), "the phone's Alice has the new number"),
        (len(own) == 1 and "0199" in own[0].get("card", ""), "the store has the phone's change: %s" % own),
        (not standin.items(NOTES, Body="Phone note"), "the phone's deleted note is gone from the store"),
        (shopping["entry_id"] in files and not has(phone, files[shopping["entry_id"]], b""),
         "the PC's deletion reached the phone"),
    ])

    # A note whose Save fails is not created: nothing recorded, the unsaved
    # item discarded, and the phone keeps it for the next session to retry.
    standin.edit(fail=[{"call": "NoteItem.Save", "times": 1}])
    write(os.path.join(phone, "notes", "second.vnt"), vnote("Second note"))
    report, _, calls, _ = session(host, standin, "irmc", phone, "irmc failed save", code=1)
    saves = [n for n, c in enumerate(calls) if c[:2] == ("NoteItem", "Save")]
    records = device_records(sync_folder, phone, "{device_id}_nt.DAT", 4)
    expect("irmc failed save", [
        (report["types"].get("note", {}).get("failed") == 1, "the creation fails: %s" % report),
        (saves and ("NoteItem", "Delete") in [c[:2] for c in calls[saves[0]:]], "the unsaved note is discarded"),
        (all(records.values()), "no record without an entry ID: %s" % records),
    ])
    report, moved, _, _ = session(host, standin, "irmc", phone, "irmc retry", "--retry")
    expect("irmc retry", [
        (moved["received"] == 1, "the note arrives next time: %s" % report),
        (len(standin.items(NOTES, Body="Second note")) == 1, "the second note is in the store once"),
    ])
    return phone


def test_syncml(host, standin, scratch, irmc_phone, sync_folder):
    """SyncML: a mail with its attachment back from the phone, a session
    rolled back, then changes and deletions."""
    phone = os.path.join(scratch, "phone-syncml")
    write(os.path.join(phone, "contacts", "own.vcf"), vcard("Sync Contact", "+1 555 0200"))
    # The Trip mail as the IrMC phone got it, attachment inside, comes back
    # from this phone under another subject.
    inbox = os.path.join(irmc_phone, "inbox")
    trip = ([t for t in (read(os.path.join(inbox, n)) for n in os.listdir(inbox)) if b"Trip" in t] or [b""])[0]
    write(os.path.join(phone, "inbox", "back.vmg"), trip.replace(b"Trip", b"Trip back"))
    pc_items = len([i for i in standin.items() if i["class"] != "other"])
    first, moved, _, _ = session(host, standin, "syncml", phone, "syncml first")
    back = standin.items(INBOX, Subject="Trip back")
    attachment = back[0]["attachments"][0] if len(back) == 1 and back[0].get("attachments") else {}
    mapped = device_records(sync_folder, phone, "{address}_SyncMLDB.DAT", 48)
    expect("syncml first", [
        (b"ticket.txt" in trip, "the vMessage carries the attachment (MailAttachment on)"),
        (first.get("completed") and moved == dict(sent=pc_items, received=2, updated=0, deleted=0, failed=0),
         "%d PC items out, 2 in: %s" % (pc_items, first)),
        (attachment.get("name", "").endswith("ticket.txt") and
         read(standin.wine.unix(attachment["file"])) == b"Seat 12A\r\n\x00\xff",
         "the mail is in the inbox with its attachment's name and bytes: %s" % back),
        (mapped and set(mapped.values()) <= {i["entry_id"] for i in standin.items()}, "records name items"),
    ])

    # An interrupted session is rolled back: the items it made are deleted.
    write(os.path.join(phone, "contacts", "late.vcf"), vcard("Late Arrival", "+1 555 0123"))
    write(os.path.join(phone, "contacts", "later.vcf"), vcard("Later Arrival", "+1 555 0124"))
    before = sorted(i["entry_id"] for i in standin.items())
    report, _, _, _ = session(host, standin, "syncml", phone, "syncml rollback", "--interrupt-after", "1", code=1)
    expect("syncml rollback", [
        (report.get("rolled_back"), "the session is rolled back: %s" % report),
        (sorted(i["entry_id"] for i in standin.items()) == before, "the store is as it was"),
    ])

    # Then they move, with a change and a deletion on the PC, logged after
    # the last anchor.
    bruno = standin.items(FullName="Bruno Keller")[0]
    meeting = standin.items(CALENDAR, Subject="Team meeting")[0]
    standin.edit(meeting, bruno, vcard("Bruno Keller", "+49 30 7654321"))
    log_records(os.path.join(sync_folder, "SyncMLModificationLog.DAT"),
                (2, 0, bruno["entry_id"], "29991231T235959Z"), (3, 1, meeting["entry_id"], "29991231T235959Z"))
    report, moved, _, _ = session(host, standin, "syncml", phone, "syncml changes")
    files = by_entry(first)
    expect("syncml changes", [
        (moved == dict(sent=0, received=2, updated=1, deleted=1, failed=0), "totals: %s" % report),
        (len(standin.items(CONTACTS, FullName="Arrival")) == 2, "each late contact is in the store once"),
        (has(phone, files.get(bruno["entry_id"]), b"7654321"), "the phone's Bruno changed"),
        (meeting["entry_id"] in files and not has(phone, files[meeting["entry_id"]], b""),
         "the PC's deleted meeting is gone from the phone"),
    ])


def test_no_window(host, standin, scratch):
    """With no Outlook window: the user's running instance is used for
    creations and never quit or logged off; an instance the library starts
    is quit at most once per connection (a note import leaves it running),
    and logged off after the contact import only."""
    standin.edit(window=False)
    phone = os.path.join(scratch, "phone-nowindow")
    for n, started in enumerate((False, True)):
        write(os.path.join(phone, "contacts", "own%d.vcf" % n), vcard("Quiet Contact %d" % n, "+1 555 030%d" % n))
        write(os.path.join(phone, "notes", "own%d.vnt" % n), vnote("Quiet note %d" % n))
        if not started and not standin.start_running():
            continue
        what = "no window, %s" % ("started by the library" if started else "user's instance")
        report, moved, calls, lines = session(host, standin, "irmc", phone, what)
        # The Quit calls of each connection an instance was created for.
        quits = [part.count("Application.Quit ") for part in re.split(r"(?m)^create$", "\n".join(lines))[1:]]
        logoffs = len([c for c in calls if c[:2] == ("Namespace", "Logoff")])
        expect(what, [
            (moved["received"] == 2 and moved["sent"] == 0, "creations go on, reading does not: %s" % report),
            (started or not [c for c in calls if c[1] in ("Quit", "Logoff")], "no Quit or Logoff"),
            (not started or (quits and max(quits) == 1), "Quit at most once per connection: %s" % quits),
            (not started or logoffs == 1, "Logoff after the contact import only: %d" % logoffs),
        ])
        standin.stop()


def main():
    parser = argparse.ArgumentParser()
    for name in ("--zelsync", "--library", "--server"):
        parser.add_argument(name, required=True)
    args = parser.parse_args()
    scratch = tempfile.mkdtemp(prefix="zelsync-com-")
    wine = Wine(scratch)
    started = time.time()
    try:
        wine.run("wineboot", "--init")
        # The first activation after wineboot can hang on RpcSs until the
        # server has been restarted.
        wine.stop()
        # Non-ASCII names for the user's local application data, the
        # temporary folder and the programs' own folder.
        local, temp = "C:\\users\\Zoë Łukasz\\AppData\\Local", "C:\\users\\Zoë Łukasz\\Tëmp ☂"
        for path in (local, temp):
            os.makedirs(wine.unix(path), exist_ok=True)
        programs = os.path.join(scratch, "Prögramme")
        os.makedirs(programs)
        for source in (args.zelsync, args.library, args.server):
            shutil.copy(source, programs)
        exe = lambda source: wine.path(os.path.join(programs, os.path.basename(source)))
        store, clsid_key = os.path.join(scratch, "Outlook-Daten", "store.json"), "HKEY_CLASSES_ROOT\\CLSID\\" + CLSID
        shell = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\"
        wine.set_registry(scratch, [
            (shell + "User Shell Folders", "Local AppData", local), (shell + "Shell Folders", "Local AppData", local),
            ("HKEY_CURRENT_USER\\Environment", "TEMP", temp), ("HKEY_CURRENT_USER\\Environment", "TMP", temp),
            ("HKEY_CURRENT_USER\\SOFTWARE\\Tolvane\\Default\\PIMSettings", "MailAttachment", 1),
            # The stand-in as the local server of "Outlook.Application".
            ("HKEY_CLASSES_ROOT\\Outlook.Application\\CLSID", None, CLSID),
            (clsid_key + "\\ProgID", None, "Outlook.Application"),
            (clsid_key + "\\LocalServer32", None, '"%s" "%s"' % (exe(args.server), wine.path(store))),
        ])
        standin = StandIn(wine, os.path.join(scratch, "Outlook-Daten"), exe(args.server))
        host = (exe(args.zelsync), exe(args.library))
        sync_folder = wine.unix(local + "\\ZelBtOutlookSync")
        standin.save(initial_store(standin.folder))
        registered = wine.run(standin.exe, wine.path(standin.store), "/regserver")
        expect("the stand-in", [(registered.returncode == 0, "registers: %s" % registered.stderr)])
        if registered.returncode == 0 and standin.start_running():
            phone = test_irmc(host, standin, scratch, sync_folder)
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
