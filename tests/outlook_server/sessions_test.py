#!/usr/bin/env python3
"""Whole sessions of the real host and library against the stand-in Outlook.

Everything runs under Wine in a prefix of this test's own, made in a scratch
folder and removed after: the stand-in is registered there as the local
server "Outlook.Application", so the library reaches it as it reaches
Outlook, through CoCreateInstance or the running object table and
cross-process IDispatch calls. The user's profile folders and the temporary
folder have non-ASCII names. Each session's report, the stand-in's store,
the phone, the bookkeeping files and the stand-in's call log are checked.
Both schemes run the same steps (a first session, then changes and
deletions each way) from one table; IrMC adds a creation whose Save fails,
SyncML a mail with its attachment and a session rolled back.
"""
import json
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "zelsync"))
from host_harness import (Host, arguments, check, field, finish, object_files, phone_state, put, read,  # noqa: E402
                          totals, vcard, vnote, write)

WINE, WINESERVER = "/usr/lib/wine/wine64", "/usr/lib/wine/wineserver"
INBOX, CALENDAR, CONTACTS, NOTES = 6, 9, 10, 12  # default folders of the object model
CLSID = "{8E4F1B2A-6C3D-4E5F-9A0B-1C2D3E4F5A6B}"  # the stand-in's class
CALL = re.compile(r"^(\w+)\.(\w+) (\w+) -> 0x([0-9A-F]{8})$")  # a call in the stand-in's log


def expect(what, checks):
    for condition, message in checks:
        check(condition, "%s: %s" % (what, message))


def vcalendar(summary):
    return ("BEGIN:VCALENDAR\r\nVERSION:1.0\r\nBEGIN:VEVENT\r\nSUMMARY:%s\r\n"
            "DTSTART:20260302T100000Z\r\nDTEND:20260302T110000Z\r\nEND:VEVENT\r\nEND:VCALENDAR\r\n" % summary)


class StandIn:
    """The stand-in in the test's Wine prefix: its store file and call log."""

    def __init__(self, scratch, exe):
        self.prefix, self.folder = os.path.join(scratch, "prefix"), os.path.join(scratch, "Outlook-Daten")
        self.exe, self.running = exe, None
        self.env = dict(os.environ, WINEPREFIX=self.prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=")
        self.store, self.log = os.path.join(self.folder, "store.json"), os.path.join(self.folder, "calls.log")

    def wine(self, *args):
        return subprocess.run([WINE] + list(args), env=self.env, capture_output=True, timeout=300)

    def kill_prefix(self):
        for flag in ("-k", "-w"):
            subprocess.run([WINESERVER, flag], env=self.env, capture_output=True, timeout=120)

    def unix(self, windows_path):
        drive, rest = windows_path[0].lower(), windows_path[2:].replace("\\", "/").lstrip("/")
        return "/" + rest if drive == "z" else os.path.join(self.prefix, "dosdevices", drive + ":", rest)

    def edit(self, dropped=None, changed=None, card=None, **top):
        """Deletes `dropped`, gives `changed` a new card and sets `top` keys,
        as the user would in Outlook between sessions."""
        doc = dict(json.loads(read(self.store)), **top)
        doc["items"] = [dict(i, card=card) if i == changed else i for i in doc["items"] if i != dropped]
        write(self.store, json.dumps(doc, indent=1, ensure_ascii=False))

    def items(self, folder=None, **props):
        """The items in `folder` (any) whose props contain `props`."""
        return [i for i in json.loads(read(self.store))["items"] if folder in (None, i["folder"]) and
                all(value in i["props"].get(name, "") for name, value in props.items())]

    def lines(self):
        return read(self.log).decode("utf-8", "replace").splitlines() if os.path.exists(self.log) else []

    def start_running(self, mode="/run"):
        """An Outlook the user started ("/run": in the running object table),
        or one as COM starts it ("-Embedding"), started here so that it and
        Wine's own processes hold no pipe of the host's."""
        ready, deadline = "ready " + ("running" if mode == "/run" else "embedded"), time.time() + 30
        mark = len(self.lines())
        self.running = subprocess.Popen([WINE, self.exe, self.path(self.store), mode], env=self.env,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        while time.time() < deadline and ready not in self.lines()[mark:]:
            time.sleep(0.2)
        return check(ready in self.lines()[mark:], "the stand-in starts: " + ready)

    def stop(self):
        """Stops every instance: the one the test started and any COM started."""
        write(os.path.join(self.folder, "stop"), "")
        if self.running:
            self.running.wait(timeout=60)
            self.running = None
        time.sleep(1)  # a COM-started instance still up notices the stop file too
        os.remove(os.path.join(self.folder, "stop"))
        exits = [l for l in self.lines() if l.startswith("exit ")]
        check(all(l.startswith("exit live 0") for l in exits), "stopping: objects alive at exit: %s" % exits)

    path = staticmethod(lambda unix_path: "Z:" + os.path.abspath(unix_path).replace("/", "\\"))


def session(host, standin, road, phone, what, *extra, code=0):
    """One session of the host, with the checks every stretch of call log
    it made keeps: the stand-in refused no call (flags, argument types,
    unknown DISPIDs, index 0), each DISPID was looked up once per class
    and name, and no object was alive after the last call. Gives the
    report, its totals, the calls (class, member, flags, HRESULT) and
    the log lines."""
    mark = len(standin.lines())
    report = host.sync(road, phone, *extra, expect=code)
    lines = standin.lines()[mark:]
    calls = [m.groups() for m in map(CALL.match, lines) if m]
    lookups = [l for l in lines if re.match(r"^\w+ ids \w+$", l)]
    last_call = max([i for i, l in enumerate(lines) if CALL.match(l)] or [-1])
    released = [i for i, l in enumerate(lines) if l == "live 0" or l.startswith("exit live 0")]
    expect(what, [
        (not [l for l in lines if l.startswith("!")], "refused calls:\n" + "\n".join(l for l in lines if l[0] == "!")),
        (len(lookups) == len(set(lookups)), "DISPIDs looked up again: %s" % sorted(lookups)),
        (last_call < 0 or (released and released[-1] > last_call), "objects alive after the last call"),
    ])
    return report, totals(report), calls, lines


def on_phone(phone, file, text):
    path = os.path.join(phone, file or "missing")
    return os.path.exists(path) and text in read(path)


def initial_store(folder):
    write(os.path.join(folder, "ticket.bin"), b"Seat 12A\r\n\x00\xff")
    mail = lambda **props: {"class": "mail", "folder": INBOX, "props": props}
    items = [
        # Names a file cannot carry must not stop the folder.
        mail(Subject="Lunch?", SenderName="Bea", HTMLBody="<p>12:30?</p>", SentOn=46081.5),
        mail(Subject="Invoice", SenderName='"ACME" <support>', HTMLBody="<p>Due</p>", SentOn=46081.6),
        dict(mail(Subject="Trip", SenderName="Ana Souza", To="me@example.org", HTMLBody="<p>Ticket</p>",
                  SentOn=46082.5, Importance=1, UnRead=True),
             attachments=[{"name": "ticket.txt", "file": os.path.join(folder, "ticket.bin")}]),
        {"class": "other", "folder": INBOX, "props": {"Subject": "Meeting request"}},
        {"class": "note", "folder": NOTES, "props": {"Body": "Shopping list\r\nmilk"}},
    ] + [{"class": "contact", "folder": CONTACTS, "props": {"FullName": name}, "card": vcard(name, number)}
         for name, number in (("Alice Martin", "+44 20 7946 0018"), ("Bruno Keller", "+49 30 1234567"))] + [
        {"class": "appointment", "folder": CALENDAR, "props": {"Subject": "Team meeting"},
         "card": vcalendar("Team meeting")}]
    for n, item in enumerate(items):
        item["entry_id"] = "00000000E2E0%04d" % n
    return {"window": True, "next_id": 100, "items": items, "fail": []}


# Each scheme's device record databases (names with the device ID or
# address in {}), its change log and the stamp its records carry.
ROADS = {"irmc": (("{device_id}_pb.DAT", "{device_id}_nt.DAT"), "SyncModificationLog.DAT", ()),
         "syncml": (("{address}_SyncMLDB.DAT",), "SyncMLModificationLog.DAT", ("29991231T235959Z",))}
KINDS = {"note": 1, "contact": 2, "appointment": 3}  # of the change log

# The sessions, in order: scheme, name, the phone's files written (None
# removes), the PC's changes (an item deleted and a contact's new number,
# logged as the change tracker does), the store's failures, extra arguments,
# the exit status and the totals ("sent": None is every PC item). Besides
# the totals, the phone and the call log, every session leaves the device
# records naming saved items and, changing none, each phone object it
# brought as one item.
STEPS = [
    # The fifth item the store is asked for (after two contacts, an
    # appointment and a note: the first mail) cannot be read: it is passed
    # over, the mails after it go, and the next session hands it out.
    ("irmc", "first", {"contacts/own.vcf": vcard("Phone Contact", "+1 555 0100"),
                       "notes/own.vnt": vnote("Phone note"), "calendar/own.vcs": vcalendar("Phone appointment")},
     None, [{"call": "Items.Item", "times": 1, "after": 4}], (), 0, dict(sent=6, received=3)),
    ("irmc", "changes", {"contacts/own.vcf": vcard("Phone Contact", "+1 555 0199"), "notes/own.vnt": None},
     ((NOTES, "Body", "Shopping"), "Alice Martin", "+44 7700 900123"), [], (), 0, dict(sent=1, updated=2, deleted=2)),
    # A note whose Save fails is not created: nothing recorded, the unsaved
    # item discarded, and the phone keeps it for the next session to retry.
    ("irmc", "failed save", {"notes/second.vnt": vnote("Second note")}, None,
     [{"call": "NoteItem.Save", "times": 1}], (), 1, dict(failed=1)),
    ("irmc", "retry", {}, None, [], ("--retry",), 0, dict(received=1)),
    # The Trip mail as the IrMC phone got it, attachment inside, comes back.
    ("syncml", "first", {"contacts/own.vcf": vcard("Sync Contact", "+1 555 0200"), "inbox/back.vmg": "TRIP"},
     None, [], (), 0, dict(sent=None, received=2)),
    # An interrupted session is rolled back: the items it made are deleted.
    ("syncml", "rollback", {"contacts/late.vcf": vcard("Late Arrival", "+1 555 0123"),
                            "contacts/later.vcf": vcard("Later Arrival", "+1 555 0124")},
     None, [], ("--interrupt-after", "1"), 1, None),
    ("syncml", "changes", {}, ((CALENDAR, "Subject", "Team meeting"), "Bruno Keller", "+49 30 7654321"), [], (),
     0, dict(received=2, updated=1, deleted=1)),
]


def test_steps(host, standin, scratch, sync_folder):
    """The sessions of STEPS against the user's running Outlook, with the
    checks particular to each."""
    sent = {}
    for road, step, files, pc_change, fail, extra, code, expected in STEPS:
        phone, what = os.path.join(scratch, "phone-" + road), road + " " + step
        put(phone, {name: trip_back(scratch) if text == "TRIP" else text for name, text in files.items()})
        databases, change_log, stamp = ROADS[road]
        if pc_change:
            (folder, prop, text), name, number = pc_change
            changed, gone = standin.items(FullName=name)[0], standin.items(folder, **{prop: text})[0]
            standin.edit(gone, changed, vcard(name, number))
            with open(os.path.join(sync_folder, change_log), "ab") as log:
                for item, kind in ((changed, 0), (gone, 1)):
                    log.write(struct.pack("<II", KINDS[item["class"]], kind) + field(item["entry_id"]) +
                              b"".join(field(s, 40) + struct.pack("<I", 0) for s in stamp))
        standin.edit(fail=fail)
        before = standin.items()
        pc_items = len([i for i in before if i["class"] != "other"])
        report, moved, calls, _ = session(host, standin, road, phone, what, *extra, code=code)
        after = standin.items()
        # The host decodes the bookkeeping files: none is damaged.
        names = {name.format(**phone_state(phone)) for name in databases}
        records = {r["entry_id"] for doc in host.json("inspect", "--json", host.path(sync_folder))
                   if doc["file"].replace("\\", "/").split("/")[-1] in names for r in doc["records"]}
        new = [i for i in after if i["entry_id"] not in {b["entry_id"] for b in before}]
        files = sent.setdefault(road, {})  # {entry ID: phone file} of what reached the phone
        files.update({e["entry_id"]: e["file"] for e in report.get("events", [])
                      if e["direction"] == "to-phone" and e["ok"]})
        wanted = dict(totals({}), **expected or {})
        wanted["sent"] = pc_items if wanted["sent"] is None else wanted["sent"]
        expect(what, [
            (expected is None or moved == wanted, "totals: %s" % report),
            (not [c for c in calls if c[1] in ("Quit", "Logoff")], "no Quit or Logoff on the user's Outlook"),
            (records and records <= {i["entry_id"] for i in after}, "records name items: %s" % records),
            # A phone's change replaces its item.
            (wanted["updated"] or len(new) == wanted["received"], "each phone object is one item: %s" % new),
            (not pc_change or on_phone(phone, files.get(changed["entry_id"]), number.encode()[-6:]),
             "the phone's contact changed"),
            (not pc_change or gone["entry_id"] in files and not on_phone(phone, files[gone["entry_id"]], b""),
             "the PC's deletion reached the phone"),
        ] + CHECKS.get((road, step), lambda *_: [])(standin, report, calls, before))


def trip_back(scratch):
    """The Trip mail as the IrMC phone got it, attachment inside, under another subject."""
    trip = object_files(os.path.join(scratch, "phone-irmc", "inbox"), "Trip")
    return read(trip[0]).replace(b"Trip", b"Trip back") if trip else b""


def attachment_back(standin, *_):
    back = standin.items(INBOX, Subject="Trip back")
    attachment = back[0]["attachments"][0] if len(back) == 1 and back[0].get("attachments") else {}
    return [(attachment.get("name", "").endswith("ticket.txt") and
             read(standin.unix(attachment["file"])) == b"Seat 12A\r\n\x00\xff",
             "the mail (its vMessage had the attachment: MailAttachment on) is in the inbox with the "
             "attachment's name and bytes: %s" % back)]


CHECKS = {
    ("irmc", "changes"): lambda standin, *_: [
        (["0199" in i.get("card", "") for i in standin.items(CONTACTS, FullName="Phone Contact")] == [True],
         "the phone's change is stored"),
        (not standin.items(NOTES, Body="Phone note"), "the phone's deleted note is gone from the store")],
    ("irmc", "failed save"): lambda standin, report, calls, before: [
        (re.search(r"NoteItem\.Save\b.*\bNoteItem\.Delete\b", " ".join(".".join(c[:2]) for c in calls)),
         "the unsaved note is discarded")],
    ("syncml", "first"): attachment_back,
    ("syncml", "rollback"): lambda standin, report, calls, before: [
        (report.get("rolled_back") and standin.items() == before, "the store is as it was: %s" % report)],
    ("syncml", "changes"): lambda standin, *_: [
        (len(standin.items(CONTACTS, FullName="Arrival")) == 2, "each late contact is in the store once")],
}


def test_no_window(host, standin, scratch):
    """With no Outlook window: the user's running instance is used for
    creations and never quit or logged off; an instance the library starts
    is quit at most once per connection (a note import leaves it running),
    and logged off after the contact import only. One it starts that shows
    a window is the user's from then on: never quit or logged off (it runs
    on, so it is started as COM would start it, for the host's pipes).
    Without a window an update changes nothing and fails."""
    phone = os.path.join(scratch, "phone-nowindow")
    for n, (window, started) in enumerate(((False, False), (False, True), (True, True))):
        standin.edit(window=window)
        put(phone, {"contacts/own%d.vcf" % n: vcard("Quiet Contact %d" % n, "+1 555 030%d" % n),
                    "notes/own%d.vnt" % n: vnote("Quiet note %d" % n),
                    **({"contacts/own0.vcf": vcard("Quiet Contact 0", "+1 555 0399")} if n == 1 else {})})
        if (not started or window) and not standin.start_running("-Embedding" if started else "/run"):
            continue
        what = "%s, %s" % ("a window" if window else "no window",
                           "started by the library" if started else "user's instance")
        report, moved, calls, lines = session(host, standin, "irmc", phone, what, code=int(n == 1))
        ours = started and not window
        kept = standin.items(CONTACTS, FullName="Quiet Contact 0")
        # The Quit calls of each connection an instance was created for.
        quits = [part.count("Application.Quit ") for part in re.split(r"(?m)^create$", "\n".join(lines))[1:]]
        logoffs = len([c for c in calls if c[:2] == ("Namespace", "Logoff")])
        expect(what, [
            (moved["received"] == 2 and (window or moved["sent"] == 0), "creations go on, reading does not: %s" % report),
            (ours or not [c for c in calls if c[1] in ("Quit", "Logoff")], "no Quit or Logoff"),
            (not ours or (quits and max(quits) == 1), "Quit at most once per connection: %s" % quits),
            (not ours or logoffs == 1, "Logoff after the contact import only: %d" % logoffs),
            (n != 1 or (moved["failed"] == 1 and len(kept) == 1 and "0300" in kept[0].get("card", "") and
                        calls.count(("ContactItem", "Save", "METHOD", "00000000")) == 1),
             "the update without a window made nothing (only own1 saved): %s" % kept),
        ])
        standin.stop()


def main():
    args = arguments(("--server", {"required": True}))
    scratch = tempfile.mkdtemp(prefix="zelsync-com-")
    programs = os.path.join(scratch, "Prögramme")  # the programs' own folder has a non-ASCII name too
    os.makedirs(programs)
    for name in ("zelsync", "library", "server"):
        setattr(args, name, shutil.copy(getattr(args, name), programs))
    standin = StandIn(scratch, StandIn.path(args.server))
    args.platform, args.emulator = "windows", WINE
    host = Host(args, scratch)
    host.env = standin.env
    try:
        standin.wine("wineboot", "--init")
        # The first activation after wineboot can hang on RpcSs until the
        # server has been restarted.
        standin.kill_prefix()
        # Non-ASCII names for the user's local application data and the temporary folder.
        local, temp = "C:\\users\\Zoë Łukasz\\AppData\\Local", "C:\\users\\Zoë Łukasz\\Tëmp ☂"
        for path in (local, temp):
            os.makedirs(standin.unix(path), exist_ok=True)
        clsid, shell = "HKEY_CLASSES_ROOT\\CLSID\\" + CLSID, "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\" \
            "CurrentVersion\\Explorer\\"
        settings = [
            (shell + "User Shell Folders", "Local AppData", local), (shell + "Shell Folders", "Local AppData", local),
            ("HKEY_CURRENT_USER\\Environment", "TEMP", temp), ("HKEY_CURRENT_USER\\Environment", "TMP", temp),
            ("HKEY_CURRENT_USER\\SOFTWARE\\Tolvane\\Default\\PIMSettings", "MailAttachment", "dword:00000001"),
            # The stand-in as the local server of "Outlook.Application".
            ("HKEY_CLASSES_ROOT\\Outlook.Application\\CLSID", None, CLSID),
            (clsid + "\\ProgID", None, "Outlook.Application"),
            (clsid + "\\LocalServer32", None, '"%s" "%s"' % (standin.exe, standin.path(standin.store)))]
        quoted = lambda value: value if value.startswith("dword:") else json.dumps(value, ensure_ascii=False)
        reg = os.path.join(scratch, "settings.reg")
        write(reg, b"\xff\xfe" + "\r\n".join(["Windows Registry Editor Version 5.00", ""] + [
            "[%s]\r\n%s=%s\r\n" % (key, '"%s"' % name if name else "@", quoted(value))
            for key, name, value in settings]).encode("utf-16-le"))
        check(standin.wine("regedit", "/S", standin.path(reg)).returncode == 0, "regedit takes the settings")
        sync_folder = standin.unix(local + "\\ZelBtOutlookSync")
        write(standin.store, json.dumps(initial_store(standin.folder), indent=1))
        registered = standin.wine(standin.exe, standin.path(standin.store), "/regserver")
        if check(registered.returncode == 0, "the stand-in registers: %s" % registered.stderr) and \
                standin.start_running():
            test_steps(host, standin, scratch, sync_folder)
            standin.stop()
            test_no_window(host, standin, scratch)
    finally:
        standin.kill_prefix()
        if os.environ.get("ZELSYNC_KEEP_SCRATCH"):
            print("kept " + scratch)
        else:
            shutil.rmtree(scratch, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
