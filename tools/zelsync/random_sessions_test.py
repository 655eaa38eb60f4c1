#!/usr/bin/env python3
"""Randomized, seeded sessions of two phones (one per road) against the local
store, through the zelsync host and the real library.

`rounds` mode: each round makes random additions, edits and deletions of
contacts and notes on both phones and in the store, runs sessions until they
settle (a SyncML link drops at random now and then, and the session is
rolled back), and then checks that both phones and the store hold the same
items, each once, in the same version.

`kills` mode: each round kills the host with SIGKILL at a random moment of a
session, checks that every bookkeeping file still decodes, and that the
following sessions roll back what was cut short and settle as above.

Every item carries a tag "Z<id>v<version>" in its name or text; a failure
prints the seed and round, and the command that replays it.
"""
import collections
import json
import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from host_harness import Host, arguments, object_files, text_of, vcard, vnote, write

TAG = re.compile(r"Z\d+v\d+")
KINDS = (("contacts", ".vcf"), ("notes", ".vnt"))
MAX_SETTLE_PASSES = 5


class Failure(Exception):
    pass


class World:
    def __init__(self, host, scratch, rng, roads):
        self.host = host
        self.rng = rng
        self.roads = roads
        self.phones = {road: os.path.join(scratch, "phone-" + road) for road in roads}
        self.next_id = 1
        self.version = 1

    def new_tag(self, ident=None):
        if ident is None:
            ident, self.next_id = self.next_id, self.next_id + 1
        self.version += 1
        return "Z%dv%d" % (ident, self.version)

    # --- what each side holds: {kind: [tag, ...]}

    def phone_tags(self, road):
        return {kind: [((TAG.findall(text_of(path)) or ["untagged:" + path])[0], path)
                       for path in object_files(os.path.join(self.phones[road], kind))] for kind, _ in KINDS}

    def store_items(self, kind):
        code, out, err = self.host.run("store", "list", kind, "--json")
        if code != 0:
            raise Failure("store list %s: exit %d %s" % (kind, code, err))
        return [((TAG.findall(item["summary"]) or ["untagged:" + item["id"]])[0], item["id"])
                for item in json.loads(out)]

    def store_tags(self):
        return {kind: self.store_items(kind) for kind, _ in KINDS}

    # --- random changes

    def change_phone(self, road):
        for _ in range(self.rng.randint(0, 3)):
            kind, extension = self.rng.choice(KINDS)
            held = self.phone_tags(road)[kind]
            action = self.rng.random()
            if action < 0.4 or not held:
                tag = self.new_tag()
                path = os.path.join(self.phones[road], kind, "own-%s%s" % (tag, extension))
            else:
                tag, path = self.rng.choice(held)
                if action < 0.75:
                    ident = int(tag[1:].split("v")[0]) if tag.startswith("Z") else None
                    tag = self.new_tag(ident)
                else:
                    os.remove(path)
                    continue
            write(path, vcard("Tag " + tag, "+1 555 0100") if kind == "contacts" else vnote(tag))

    def change_store(self):
        for _ in range(self.rng.randint(0, 3)):
            kind, _ = self.rng.choice(KINDS)
            held = self.store_items(kind)
            action = self.rng.random()
            field = "--name" if kind == "contacts" else "--text"
            if action < 0.4 or not held:
                arguments = ["store", "add", kind, field, ("Tag " if kind == "contacts" else "") + self.new_tag()]
            else:
                tag, ident = self.rng.choice(held)
                if action < 0.75:
                    number = int(tag[1:].split("v")[0]) if tag.startswith("Z") else None
                    value = ("Tag " if kind == "contacts" else "") + self.new_tag(number)
                    arguments = ["store", "edit", kind, ident, field, value]
                else:
                    arguments = ["store", "delete", kind, ident]
            code, out, err = self.host.run(*arguments)
            if code != 0:
                raise Failure("zelsync %s: exit %d %s" % (" ".join(arguments), code, err))

    # --- sessions

    def sync(self, road, *extra):
        arguments = ["sync", road, "--device", self.phones[road], "--json"] + list(extra)
        code, out, err = self.host.run(*arguments)
        try:
            report = json.loads(out)
        except ValueError:
            raise Failure("zelsync %s: exit %d, no report\n%s%s" % (" ".join(arguments), code, out, err))
        return report

    def settle(self, drop_links):
        for attempt in range(MAX_SETTLE_PASSES):
            moved = 0
            for road in self.roads:
                if road == "syncml" and drop_links and self.rng.random() < 0.3:
                    report = self.sync(road, "--interrupt-after", str(self.rng.randint(1, 3)))
                    if report.get("interrupted") and not report.get("rolled_back"):
                        raise Failure("a dropped SyncML link was not rolled back: %s" % report)
                report = self.sync(road)
                failed = [e for e in report.get("events", []) if not e.get("ok")]
                if report.get("errors") or failed:
                    raise Failure("%s session failed: errors %s, failed events %s" % (
                        road, report.get("errors"), failed))
                moved += sum(1 for e in report.get("events", []) if e.get("ok"))
            if moved == 0 and attempt > 0:
                return
        raise Failure("sessions still move items after %d passes" % MAX_SETTLE_PASSES)

    def check_converged(self):
        sides = {"store": self.store_tags()}
        sides.update({road + " phone": self.phone_tags(road) for road in self.roads})
        problems = []
        for kind, _ in KINDS:
            counts = {side: collections.Counter(tag for tag, _ in held[kind]) for side, held in sides.items()}
            for side, count in counts.items():
                twice = sorted(tag for tag, n in count.items() if n > 1)
                if twice:
                    problems.append("%s: %s held more than once in the %s" % (kind, twice, side))
            reference = counts["store"]
            for side, count in counts.items():
                if set(count) != set(reference):
                    problems.append("%s: the %s holds %s, the store %s" % (
                        kind, side, sorted(set(count) - set(reference)), sorted(set(reference) - set(count))))
        if problems:
            raise Failure("not converged:\n  " + "\n  ".join(problems))

    def check_files_decode(self, all_files=False):
        code, out, err = self.host.run("inspect", "--json", self.host.sync_folder)
        try:
            files = json.loads(out)
        except ValueError:
            raise Failure("inspect of the sync folder gave no JSON (exit %d): %s" % (code, err))
        return files if all_files else [doc for doc in files if doc.get("damage")]


def run_rounds(world, rounds):
    for number in range(1, rounds + 1):
        for road in world.roads:
            world.change_phone(road)
        world.change_store()
        try:
            world.settle(drop_links=True)
            world.check_converged()
        except Failure as failure:
            raise Failure("round %d: %s" % (number, failure))
    return rounds


def run_kills(world, kills, host):
    survived = landed = 0
    durations = []
    for number in range(1, kills + 1):
        for road in world.roads:
            world.change_phone(road)
        world.change_store()
        road = "syncml"
        command = host.command("sync", road, "--device", world.phones[road], "--json")
        typical = sorted(durations)[len(durations) // 2] if durations else 0.3
        delay = world.rng.uniform(0.0, typical)
        started = time.monotonic()
        process = subprocess.Popen(command, env=host.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            process.wait(timeout=delay)
            durations.append(time.monotonic() - started)  # finished before the kill
        except subprocess.TimeoutExpired:
            process.send_signal(signal.SIGKILL)
            process.wait()
            landed += 1
            killed = True
        else:
            killed = False
        try:
            # Every file decodes right after the kill (a fragment an append
            # left is repaired by the next one), and the sessions that follow
            # roll back what was cut short and settle with each item held
            # once: a duplicate anywhere is a failure.
            world.check_files_decode(all_files=True)
            world.settle(drop_links=False)
            damaged = world.check_files_decode()
            if damaged:
                raise Failure("bookkeeping files still damaged after the next sessions: %s" % damaged)
            world.check_converged()
        except Failure as failure:
            raise Failure("kill %d (%s after %.3f s): %s" % (
                number, "landed" if killed else "missed", delay, failure))
        survived += 1
    return survived, landed


def main():
    args = arguments(("--seed", dict(type=int)), ("--rounds", dict(type=int, default=0)),
                     ("--kills", dict(type=int, default=0)), ("--roads", dict(default="syncml,irmc")))
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    scratch = tempfile.mkdtemp(prefix="zelsync-random-")
    replay = "%s --zelsync %s --library %s --seed %d --rounds %d --kills %d --roads %s" % (
        sys.argv[0], args.zelsync, args.library, seed, args.rounds, args.kills, args.roads)
    try:
        host = Host(args, scratch)
        converged = survived = landed = 0
        if args.rounds:
            world = World(host, os.path.join(scratch, "rounds"), random.Random(seed), tuple(args.roads.split(",")))
            world.settle(drop_links=False)
            converged = run_rounds(world, args.rounds)
        if args.kills:
            # A killed IrMC session keeps what moved (the road has no rollback);
            # the kills are aimed at the SyncML road, whose rollback they test.
            host = Host(args, os.path.join(scratch, "kills"))
            world = World(host, os.path.join(scratch, "kills"), random.Random(seed), ("syncml",))
            world.settle(drop_links=False)
            survived, landed = run_kills(world, args.kills, host)
        print("seed %d: %d rounds converged, %d kills survived (%d during a session), no duplicate" % (
            seed, converged, survived, landed))
        return 0
    except Failure as failure:
        print("FAILED with seed %d: %s\nreplay: %s" % (seed, failure, replay))
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
