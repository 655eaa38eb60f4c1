#!/usr/bin/env python3
"""The local store synchronised on to a CardDAV/CalDAV server with vdirsyncer,
end to end: a Radicale server started here on 127.0.0.1 (a free port) and
stopped after, vdirsyncer with the configuration docs/caldav-carddav.md
shows, and sessions with a simulated phone through the real library.

A contact added on the server reaches the phone after `vdirsyncer sync` and
a session; the phone's edit of it reaches the server; nothing is duplicated
on either side, and a last round moves nothing."""
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

from host_harness import Host, arguments, check, finish, object_files, text_of, vcard, values, write

USER = "phone-owner"


class Server:
    """A Radicale server on 127.0.0.1 that keeps its collections in `folder`,
    with an address book "contacts" (its files in self.contacts) and a
    calendar "calendar"."""

    def __init__(self, radicale, folder):
        self.root = os.path.join(folder, "collections")
        for name, tag in (("contacts", "VADDRESSBOOK"), ("calendar", "VCALENDAR")):
            write(os.path.join(self.root, "collection-root", USER, name, ".Radicale.props"), '{"tag": "%s"}' % tag)
        self.contacts = os.path.join(self.root, "collection-root", USER, "contacts")
        with socket.socket() as s:  # a free port
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.log = open(os.path.join(folder, "radicale.log"), "w")
        self.process = subprocess.Popen(
            [radicale, "--config", "", "--server-hosts", "127.0.0.1:%d" % self.port, "--auth-type", "none",
             "--rights-type", "owner_only", "--storage-filesystem-folder", self.root,
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
        self.process.kill()
        self.process.wait()
        self.log.close()


def vdirsyncer_config(store, port, status):
    """The configuration docs/caldav-carddav.md shows, pointed at this server."""
    docs = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs", "caldav-carddav.md")
    block = text_of(docs).split("## Configure")[1].split("`collections = null`")[0]
    config = "\n".join(line[4:] for line in block.splitlines() if line.startswith("    "))
    for old, new in (("~/.local/share/vdirsyncer/status/", status), ("~/.local/share/zelsync", store),
                     ("https://dav.example.org/alice", "http://127.0.0.1:%d/%s" % (port, USER)),
                     ('"alice"', '"%s"' % USER), ('password.fetch = ["command", "pass", "dav/alice"]',
                                                  'password = "secret"')):
        check(old in config, "the documented configuration holds %s" % old)
        config = config.replace(old, new)
    return config


def main():
    args = arguments(("--radicale", dict(default=shutil.which("radicale") or "/usr/bin/radicale")),
                     ("--vdirsyncer", dict(default=shutil.which("vdirsyncer") or "/usr/bin/vdirsyncer")))
    for tool in (args.radicale, args.vdirsyncer):
        if not os.path.exists(tool):
            raise SystemExit("FAILED: %s is missing (scripts/install-deps.sh installs it)" % tool)
    scratch = tempfile.mkdtemp(prefix="zelsync-dav-")
    server = None
    try:
        host = Host(args, scratch)
        store, phone = host.env["ZELSYNC_STORE"], os.path.join(scratch, "phone")
        server = Server(args.radicale, scratch)
        config = os.path.join(scratch, "vdirsyncer.conf")
        write(config, vdirsyncer_config(store, server.port, os.path.join(scratch, "vdirsyncer-status")))

        def vdirsyncer(*command, stdin=None):
            done = subprocess.run([args.vdirsyncer, "-c", config] + list(command), env=host.env, capture_output=True,
                                  text=True, timeout=300, input=stdin)
            check(done.returncode == 0, "vdirsyncer %s: exit %d\n%s%s" % (
                " ".join(command), done.returncode, done.stdout, done.stderr))

        # The store exists before vdirsyncer looks at it: the first session
        # makes it (and the phone's first contact reaches it).
        write(os.path.join(phone, "contacts", "own.vcf"), vcard("Ida Holm", "+46 8 555 0100"))
        host.sync("syncml", phone)
        vdirsyncer("discover", stdin="n\n" * 4)
        vdirsyncer("sync")
        check(values(server.contacts, "FN") == ["Ida Holm"], "the phone's contact reached the server")

        # A contact added on the server reaches the phone.
        card = ("BEGIN:VCARD\r\nVERSION:3.0\r\nUID:server-made-1\r\nFN:Jonas Berg\r\nN:Berg;Jonas;;;\r\n"
                "TEL;TYPE=CELL:+46 8 555 0177\r\nEND:VCARD\r\n")
        write(os.path.join(server.contacts, "server-made-1.vcf"), card)  # as if another client had put it
        vdirsyncer("sync")
        report = host.sync("syncml", phone)
        check(report.get("types", {}).get("contact", {}).get("sent") == 1, "the server's contact went to the phone")

        # The phone edits it; the edit reaches the server, and nothing is
        # held twice anywhere.
        [jonas] = object_files(os.path.join(phone, "contacts"), "Jonas Berg")
        write(jonas, text_of(jonas).replace("555 0177", "555 0199"))
        report = host.sync("syncml", phone)
        check(report.get("types", {}).get("contact", {}).get("updated") == 1, "the phone's edit reached the store")
        vdirsyncer("sync")
        check(object_files(server.contacts, "0199"), "the phone's edit reached the server")

        # Everything is in step: another round moves nothing anywhere.
        vdirsyncer("sync")
        check(host.sync("syncml", phone).get("events") == [], "a last session moves nothing")
        everywhere = tuple(values(folder, "FN") for folder in (server.contacts, os.path.join(store, "contacts"),
                                                               os.path.join(phone, "contacts")))
        check(everywhere == (["Ida Holm", "Jonas Berg"],) * 3, "each contact once everywhere: %s" % (everywhere,))
    finally:
        if server:
            server.stop()
        shutil.rmtree(scratch, ignore_errors=True)
    return finish()


if __name__ == "__main__":
    sys.exit(main())
