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
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time

from host_harness import FAILURES, Host, arguments, object_files, text_of, vcard, vnote, write

TAG = re.compile(r"Z(\d+)v\d+")
KINDS = {"contacts": ".vcf", "notes": ".vnt"}
MAX_SETTLE_PASSES = 5


class Failure(Exception):
    pass


class World:
    def __init__(self, host, scratch, rng, roads):
        self.host, self.rng, self.roads = host, rng, roads
        self.phones = {road: os.path.join(scratch, "phone-" + road) for road in roads}
        self.next_id = self.version = 1

    def new_tag(self, tag=None):
        """A new version of the item `tag` names (of a new item if it names none)."""
        known = TAG.fullmatch(tag or "")
        ident, self.next_id = (int(known[1]), self.next_id) if known else (self.next_id, self.next_id + 1)
        self.version += 1
        return "Z%dv%d" % (ident, self.version)

    def json(self, *arguments, status=None, output=True):
        """The host's JSON output (`output` False: its exit status and output),
        checking the exit status against `status`; a Failure when either fails."""
        out = (self.host.json if output else self.host.run)(*arguments, expect=status)
        if FAILURES:
            raise Failure(FAILURES.pop())
        return out

    def held(self, kind, side):
        """[(tag, store ID or phone file)] of one kind in the store or on a phone (`side` its road)."""
        found = ([(item["summary"], item["id"]) for item in self.json("store", "list", kind, "--json", status=0)]
                 if side == "store" else
                 [(text_of(path), path) for path in object_files(os.path.join(self.phones[side], kind))])
        return [((TAG.search(text) or ["untagged:" + where])[0], where) for text, where in found]

    def change(self, side):
        """Up to three random additions, edits and deletions in the store or on a phone."""
        for _ in range(self.rng.randint(0, 3)):
            kind = self.rng.choice(sorted(KINDS))
            held, action = self.held(kind, side), self.rng.random()
            tag, where = self.rng.choice(held) if held and action >= 0.4 else (None, None)
            tag, delete = self.new_tag(tag), where is not None and action >= 0.75
            if side != "store":
                where = where or os.path.join(self.phones[side], kind, "own-%s%s" % (tag, KINDS[kind]))
                os.remove(where) if delete else write(where, vcard("Tag " + tag, "+1 555 0100")
                                                      if kind == "contacts" else vnote(tag))
                continue
            value = ["--name", "Tag " + tag] if kind == "contacts" else ["--text", tag]
            command = ["delete", kind, where] if delete else ["edit", kind, where] + value if where else [
                "add", kind] + value
            self.json("store", *command, status=0, output=False)

    def sync(self, road, *extra):
        return self.json("sync", road, "--device", self.phones[road], "--json", *extra)

    def settle(self, drop_links):
        for attempt in range(MAX_SETTLE_PASSES):
            moved = 0
            for road in self.roads:
                if road == "syncml" and drop_links and self.rng.random() < 0.3:
                    report = self.sync(road, "--interrupt-after", str(self.rng.randint(1, 3)))
                    if report.get("interrupted") and not report.get("rolled_back"):
                        raise Failure("a dropped SyncML link was not rolled back: %s" % report)
                report = self.sync(road)
                events = report.get("events", [])
                if report.get("errors") or not all(e.get("ok") for e in events):
                    raise Failure("%s session failed: %s" % (road, report))
                moved += len(events)
            if moved == 0 and attempt > 0:
                return
        raise Failure("sessions still move items after %d passes" % MAX_SETTLE_PASSES)

    def check_converged(self):
        for kind in KINDS:
            counts = {side: collections.Counter(tag for tag, _ in self.held(kind, side))
                      for side in ("store",) + self.roads}
            for side, count in counts.items():
                twice, store = sorted(tag for tag, n in count.items() if n > 1), set(counts["store"])
                extra, missing = sorted(set(count) - store), sorted(store - set(count))
                if twice or extra or missing:
                    raise Failure("not converged: %s in the %s: %s held more than once, %s not in the store, %s "
                                  "missing" % (kind, side, twice, extra, missing))


def run(world, rounds, kill):
    """Rounds of random changes and sessions; with `kill` each round's first
    SyncML session is killed at a random moment. Gives the kills that landed."""
    landed, durations = 0, []
    for number in range(1, rounds + 1):
        for side in world.roads + ("store",):
            world.change(side)
        outcome = ""
        if kill:
            typical = sorted(durations)[len(durations) // 2] if durations else 0.3
            delay, started = world.rng.uniform(0.0, typical), time.monotonic()
            try:  # on the timeout the process gets SIGKILL
                subprocess.run(world.host.command("sync", "syncml", "--device", world.phones["syncml"], "--json"),
                               env=world.host.env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=delay)
                durations.append(time.monotonic() - started)  # finished before the kill
                outcome = " (missed after %.3f s)" % delay
            except subprocess.TimeoutExpired:
                landed, outcome = landed + 1, " (landed after %.3f s)" % delay
        try:
            # Every file decodes right after a kill (a fragment an append
            # left is repaired by the next one), and the sessions that follow
            # roll back what was cut short and settle with each item held
            # once: a duplicate anywhere is a failure.
            if kill:
                world.json("inspect", "--json", world.host.sync_folder)
            world.settle(drop_links=not kill)
            damaged = [doc for doc in world.json("inspect", "--json", world.host.sync_folder) if doc.get("damage")]
            if damaged:
                raise Failure("bookkeeping files damaged after the sessions: %s" % damaged)
            world.check_converged()
        except Failure as failure:
            raise Failure("%s %d%s: %s" % ("kill" if kill else "round", number, outcome, failure))
    return landed


def main():
    args = arguments(("--seed", dict(type=int)), ("--rounds", dict(type=int, default=0)),
                     ("--kills", dict(type=int, default=0)), ("--roads", dict(default="syncml,irmc")))
    seed = args.seed if args.seed is not None else random.randrange(1 << 30)
    scratch = tempfile.mkdtemp(prefix="zelsync-random-")
    replay = "%s --zelsync %s --library %s --seed %d --rounds %d --kills %d --roads %s" % (
        sys.argv[0], args.zelsync, args.library, seed, args.rounds, args.kills, args.roads)
    try:
        landed = 0
        # A killed IrMC session keeps what moved (the road has no rollback):
        # the kills are aimed at the SyncML road, whose rollback they test.
        for mode, count, roads in (("rounds", args.rounds, args.roads.split(",")), ("kills", args.kills, ["syncml"])):
            if count:
                folder = os.path.join(scratch, mode)
                world = World(Host(args, folder), folder, random.Random(seed), tuple(roads))
                world.settle(drop_links=False)
                landed += run(world, count, kill=mode == "kills")
        print("seed %d: %d rounds converged, %d kills survived (%d during a session), no duplicate" % (
            seed, args.rounds, args.kills, landed))
        return 0
    except Failure as failure:
        print("FAILED with seed %d: %s\nreplay: %s" % (seed, failure, replay))
        return 1
    finally:
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
