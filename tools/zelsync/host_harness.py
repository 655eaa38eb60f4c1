"""What the host's test scripts share: the zelsync host run in a scratch home,
phone objects written as files, and the reports, store and phones read back."""
import argparse
import hashlib
import json
import os
import subprocess

FAILURES = []


def check(condition, what):
    if not condition:
        FAILURES.append(what)
        print("FAILED: " + what, flush=True)


def finish():
    """The closing line CI reads; the exit status."""
    print("%d passed, %d failed" % (0 if FAILURES else 1, len(FAILURES)))
    return 1 if FAILURES else 0


def arguments(*extra):
    parser = argparse.ArgumentParser()
    parser.add_argument("--zelsync", required=True)
    parser.add_argument("--library", required=True)
    parser.add_argument("--platform", choices=("linux", "windows"), default="linux")
    parser.add_argument("--emulator")
    for name, options in extra:
        parser.add_argument(name, **options)
    return parser.parse_args()


class Host:
    """zelsync with its data, runtime and store folders inside `scratch`
    (under Wine the prefix's own folders)."""

    def __init__(self, args, scratch):
        self.args, self.windows = args, args.platform == "windows"
        self.env = dict(os.environ)
        if not self.windows:
            for name, sub in (("XDG_DATA_HOME", "data"), ("XDG_RUNTIME_DIR", "run"), ("HOME", "home"),
                              ("XDG_CONFIG_HOME", "config")):
                self.env[name] = os.path.join(scratch, sub)
                os.makedirs(self.env[name], mode=0o700, exist_ok=True)
            self.env["ZELSYNC_STORE"] = os.path.join(scratch, "store")
            self.sync_folder = os.path.join(self.env["XDG_DATA_HOME"], "ZelBtOutlookSync")

    def path(self, unix_path):
        """A path as the program under test spells it."""
        return "Z:" + os.path.abspath(unix_path).replace("/", "\\") if self.windows else unix_path

    def command(self, *arguments):
        # No library given: the host finds its own (as an installed one must).
        given = not self.args.library or arguments[:1] == ("--library",)
        library = [] if given else ["--library", self.path(self.args.library)]
        return ([self.args.emulator] if self.args.emulator else []) + [self.args.zelsync] + library + list(arguments)

    def run(self, *arguments, expect=None):
        done = subprocess.run(self.command(*arguments), env=self.env, capture_output=True, timeout=300)
        out, err = done.stdout.decode("utf-8", "replace"), done.stderr.decode("utf-8", "replace")
        if expect is not None:
            check(done.returncode == expect, "zelsync %s: exit %d, expected %d\n%s%s" % (
                " ".join(arguments), done.returncode, expect, out, err))
        return done.returncode, out, err

    def json(self, *arguments, expect=0):
        code, out, err = self.run(*arguments, expect=expect)
        try:
            return json.loads(out)
        except ValueError:
            check(False, "zelsync %s: no JSON on stdout:\n%s%s" % (" ".join(arguments), out, err))
            return {}

    def sync(self, road, phone, *extra, expect=0):
        return self.json("sync", road, "--device", self.path(phone), "--json", *extra, expect=expect)

    def store(self, kind):
        return self.json("store", "list", kind, "--json")

    def find(self, kind, text):
        """The store's items of `kind` whose summary holds `text`."""
        return [item for item in self.store(kind) if text in item["summary"]]


def write(path, text):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(text.encode("utf-8") if isinstance(text, str) else text)


def put(folder, files):
    """Writes each {name: text} file under `folder` (a text of None removes it)."""
    for name, text in files.items():
        os.remove(os.path.join(folder, name)) if text is None else write(os.path.join(folder, name), text)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def text_of(path):
    return read(path).decode("utf-8", "replace")


def snapshot(*folders, skip="\0"):
    """Every file under each folder (but those whose name starts with `skip`,
    a text or a tuple of texts) with a hash of its bytes."""
    return [{os.path.relpath(os.path.join(base, name), folder): hashlib.sha256(read(os.path.join(base, name)))
             .hexdigest() for base, _, names in os.walk(folder) for name in names if not name.startswith(skip)}
            for folder in folders]


def object_files(folder, text=""):
    """The object files of a phone or store folder, those holding `text`."""
    names = sorted(n for n in os.listdir(folder) if not n.startswith(".")) if os.path.isdir(folder) else []
    return [os.path.join(folder, n) for n in names if text in text_of(os.path.join(folder, n))]


def values(folder, key):
    """The value of `key` (FN, SUMMARY) in every object file of a folder, sorted."""
    return sorted(line.split(":", 1)[1] for path in object_files(folder) for line in text_of(path).splitlines()
                  if line.split(":", 1)[0].split(";", 1)[0].upper() == key)


def field(text, size=520, terminated=True):
    """A UTF-16LE text field of `size` bytes as the bookkeeping files hold
    them (unterminated: the text repeated to the end)."""
    data = text.encode("utf-16-le")
    return (data + b"\0" * size)[:size] if terminated else (data * size)[:size]


def phone_state(phone, **changes):
    """A phone's state file, with `changes` (keys set anew) written to it first."""
    if changes:
        write(os.path.join(phone, "phone.json"), json.dumps(dict(phone_state(phone), **changes)))
    return json.loads(read(os.path.join(phone, "phone.json")))


def vcard(name, phone):
    family, given = name.split(" ")[-1], " ".join(name.split(" ")[:-1])
    return "BEGIN:VCARD\r\nVERSION:2.1\r\nN:%s;%s\r\nFN:%s\r\nTEL;CELL:%s\r\nEND:VCARD\r\n" % (
        family, given, name, phone)


def vnote(body):
    return "BEGIN:VNOTE\r\nVERSION:1.1\r\nBODY:%s\r\nEND:VNOTE\r\n" % body


def totals(report):
    """The counts of a session report, summed over the object types."""
    return {key: sum(counts[key] for counts in report.get("types", {}).values())
            for key in ("sent", "received", "updated", "deleted", "failed")}
