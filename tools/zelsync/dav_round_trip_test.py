#!/usr/bin/env python3
"""The local store synchronised on to a CardDAV/CalDAV server with vdirsyncer,
end to end: a Radicale server started here on 127.0.0.1 (a free port) and
stopped after, vdirsyncer with the configuration docs/caldav-carddav.md
shows, and sessions with a simulated phone through the real library.

A contact added on the server reaches the phone after `vdirsyncer sync` and
a session; the phone's edit of it reaches the server; nothing is duplicated
on either side, and a last round moves nothing."""
import argparse
import base64
import http.client
import json
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

FAILURES = []
USER = "phone-owner"


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)
    return condition


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Server:
    """A Radicale server on 127.0.0.1 that keeps its collections in `folder`."""

    def __init__(self, radicale, folder):
        self.port = free_port()
        self.log = open(os.path.join(folder, "radicale.log"), "w")
        self.process = subprocess.Popen(
            [radicale, "--config", "", "--server-hosts", "127.0.0.1:%d" % self.port, "--auth-type", "none",
             "--rights-type", "owner_only", "--storage-filesystem-folder", os.path.join(folder, "collections"),
             "--logging-level", "warning"],
            stdout=self.log, stderr=subprocess.STDOUT)
        deadline = time.monotonic() + 30
        while time.monotonic() < deadline:
            if self.process.poll() is not None:
                raise SystemExit("FAILED: radicale stopped at start; see " + self.log.name)
            try:
                socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
                return
            except OSError:
                time.sleep(0.2)
        self.stop()
        raise SystemExit("FAILED: radicale did not listen on port %d" % self.port)

    def stop(self):
        self.process.terminate()
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        self.log.close()

    def request(self, method, path, body=None, headers=None):
        connection = http.client.HTTPConnection("127.0.0.1", self.port, timeout=30)
        all_headers = {"Authorization": "Basic " + base64.b64encode((USER + ":secret").encode()).decode()}
        all_headers.update(headers or {})
        connection.request(method, path, body=body, headers=all_headers)
        response = connection.getresponse()
        data = response.read().decode("utf-8", "replace")
        connection.close()
        return response.status, data

    def make_addressbook(self, name):
        body = ('<?xml version="1.0"?><mkcol xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav"><set><prop>'
                '<resourcetype><collection/><C:addressbook/></resourcetype></prop></set></mkcol>')
        status, data = self.request("MKCOL", "/%s/%s/" % (USER, name), body, {"Content-Type": "application/xml"})
        check(status in (200, 201), "MKCOL addressbook: %d %s" % (status, data))

    def make_calendar(self, name):
        status, data = self.request("MKCALENDAR", "/%s/%s/" % (USER, name))
        check(status in (200, 201), "MKCALENDAR: %d %s" % (status, data))

    def cards(self, name):
        """The vCards of an address book, by href."""
        body = ('<?xml version="1.0"?><C:addressbook-query xmlns="DAV:" xmlns:C="urn:ietf:params:xml:ns:carddav">'
                '<prop><C:address-data/></prop></C:addressbook-query>')
        status, data = self.request("REPORT", "/%s/%s/" % (USER, name), body,
                                    {"Content-Type": "application/xml", "Depth": "1"})
        check(status == 207, "REPORT: %d" % status)
        return [part.split("END:VCARD")[0] for part in data.split("BEGIN:VCARD")[1:]]


def run(command, env, expect=0, stdin=None):
    done = subprocess.run(command, env=env, capture_output=True, text=True, timeout=300, input=stdin)
    check(done.returncode == expect, "%s: exit %d, expected %d\n%s%s" % (
        " ".join(command), done.returncode, expect, done.stdout, done.stderr))
    return done.stdout


def vdirsyncer_config(store, port, status):
    """The configuration docs/caldav-carddav.md shows, for this server."""
    return """[general]
status_path = "%(status)s"

[pair contacts]
a = "zelsync_contacts"
b = "server_contacts"
collections = null
conflict_resolution = "b wins"

[storage zelsync_contacts]
type = "filesystem"
path = "%(store)s/contacts"
fileext = ".vcf"

[storage server_contacts]
type = "carddav"
url = "http://127.0.0.1:%(port)d/%(user)s/contacts/"
username = "%(user)s"
password = "secret"

[pair calendar]
a = "zelsync_calendar"
b = "server_calendar"
collections = null
conflict_resolution = "b wins"

[storage zelsync_calendar]
type = "filesystem"
path = "%(store)s/calendar"
fileext = ".ics"

[storage server_calendar]
type = "caldav"
url = "http://127.0.0.1:%(port)d/%(user)s/calendar/"
username = "%(user)s"
password = "secret"
""" % {"store": store, "port": port, "status": status, "user": USER}


def card_names(texts):
    names = []
    for text in texts:
        for line in text.replace("\r\n", "\n").split("\n"):
            if line.upper().startswith("FN"):
                names.append(line.split(":", 1)[1])
    return sorted(names)


def folder_texts(folder):
    texts = []
    for name in sorted(os.listdir(folder)) if os.path.isdir(folder) else []:
        if not name.startswith("."):
            with open(os.path.join(folder, name), encoding="utf-8", errors="replace") as f:
                texts.append(f.read())
    return texts


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelsync", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--radicale", default=shutil.which("radicale") or "/usr/bin/radicale")
    parser.add_argument("--vdirsyncer", default=shutil.which("vdirsyncer") or "/usr/bin/vdirsyncer")
    args = parser.parse_args()
    for tool in (args.radicale, args.vdirsyncer):
        if not os.path.exists(tool):
            raise SystemExit("FAILED: %s is missing (scripts/install-deps.sh installs it)" % tool)
    scratch = tempfile.mkdtemp(prefix="zelsync-dav-")
    server = None
    try:
        env = dict(os.environ)
        for name, sub in (("XDG_DATA_HOME", "data"), ("XDG_RUNTIME_DIR", "run"), ("HOME", "home"),
                          ("XDG_CONFIG_HOME", "config")):
            env[name] = os.path.join(scratch, sub)
            os.makedirs(env[name], mode=0o700)
        store = os.path.join(scratch, "store")
        env["ZELSYNC_STORE"] = store
        phone = os.path.join(scratch, "phone")
        server = Server(args.radicale, scratch)
        server.make_addressbook("contacts")
        server.make_calendar("calendar")
        config = os.path.join(scratch, "vdirsyncer.conf")
        with open(config, "w") as f:
            f.write(vdirsyncer_config(store, server.port, os.path.join(scratch, "vdirsyncer-status")))
        vdirsyncer = [args.vdirsyncer, "-c", config]
        zelsync = [args.zelsync, "--library", args.library]

        def session(expect=0):
            return json.loads(run(zelsync + ["sync", "syncml", "--device", phone, "--json"], env, expect) or "{}")

        # The store exists before vdirsyncer looks at it: the first session
        # makes it (and the phone's first contact reaches it).
        os.makedirs(os.path.join(phone, "contacts"))
        with open(os.path.join(phone, "contacts", "own.vcf"), "w") as f:
            f.write("BEGIN:VCARD\r\nVERSION:2.1\r\nN:Holm;Ida\r\nFN:Ida Holm\r\nTEL;CELL:+46 8 555 0100\r\n"
                    "END:VCARD\r\n")
        session()
        run(vdirsyncer + ["discover"], env, stdin="n\n" * 4)
        run(vdirsyncer + ["sync"], env)
        check(card_names(server.cards("contacts")) == ["Ida Holm"],
              "the phone's contact reached the server: %s" % card_names(server.cards("contacts")))

        # A contact added on the server reaches the phone.
        card = ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:server-made-1\r\nFN:Jonas Berg\r\nN:Berg;Jonas;;;\r\n"
                "TEL;TYPE=CELL:+46 8 555 0177\r\nEND:VCARD\r\n")
        status, data = server.request("PUT", "/%s/contacts/server-made-1.vcf" % USER, card,
                                      {"Content-Type": "text/vcard"})
        check(status in (200, 201), "PUT on the server: %d %s" % (status, data))
        run(vdirsyncer + ["sync"], env)
        report = session()
        check(report.get("types", {}).get("contact", {}).get("sent") == 1,
              "the server's contact went to the phone: %s" % report.get("types"))
        phone_cards = folder_texts(os.path.join(phone, "contacts"))
        check(card_names(phone_cards) == ["Ida Holm", "Jonas Berg"], "the phone's contacts: %s" % phone_cards)

        # The phone edits it; the edit reaches the server.
        for name in os.listdir(os.path.join(phone, "contacts")):
            path = os.path.join(phone, "contacts", name)
            with open(path, encoding="utf-8") as f:
                text = f.read()
            if "Jonas Berg" in text:
                with open(path, "w", encoding="utf-8") as f:
                    f.write(text.replace("555 0177", "555 0199"))
        report = session()
        check(report.get("types", {}).get("contact", {}).get("updated") == 1,
              "the phone's edit reached the store: %s" % report.get("types"))
        run(vdirsyncer + ["sync"], env)
        server_cards = server.cards("contacts")
        check(card_names(server_cards) == ["Ida Holm", "Jonas Berg"], "no duplicates on the server: %s" % server_cards)
        check(any("0199" in text for text in server_cards if "Jonas Berg" in text),
              "the phone's edit reached the server: %s" % server_cards)
        check(card_names(folder_texts(os.path.join(store, "contacts"))) == ["Ida Holm", "Jonas Berg"],
              "no duplicates in the store")

        # Everything is in step: another round moves nothing anywhere.
        run(vdirsyncer + ["sync"], env)
        report = session()
        check(report.get("events") == [], "a last session moves nothing: %s" % report.get("events"))
        check(card_names(folder_texts(os.path.join(phone, "contacts"))) == ["Ida Holm", "Jonas Berg"],
              "no duplicates on the phone")
    finally:
        if server:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    print("%d failed" % len(FAILURES))
    return 1 if FAILURES else 0


if __name__ == "__main__":
    sys.exit(main())
