#!/usr/bin/env python3
"""Makes and edits the contacts of the session benchmark.

  contacts.py make N FOLDER    writes N vCards (FOLDER/<uid>.vcf): a name,
                               two telephone numbers, an email address and
                               a postal address each; the same N give the
                               same files
  contacts.py edit K FOLDER    changes the work number of K contacts, chosen
                               afresh each time, so every call is a change
"""
import os
import random
import sys

GIVEN = ["Anna", "Bruno", "Clara", "David", "Elena", "Felix", "Greta", "Hugo", "Ida", "Jonas",
         "Klara", "Lukas", "Mia", "Noah", "Olga", "Paul", "Rosa", "Simon", "Tara", "Umberto",
         "Vera", "Walter", "Xenia", "Yusuf", "Zoe", "Ömer", "Åsa", "José", "Léa", "Zoë"]
FAMILY = ["Adler", "Berger", "Costa", "Dubois", "Eriksen", "Fischer", "García", "Hansen",
          "Ivanova", "Jensen", "Kowalski", "Lindqvist", "Müller", "Novak", "O'Brien", "Petrović",
          "Quinn", "Rossi", "Schmidt", "Tanaka", "Ulrich", "Varga", "Weber", "Young", "Zeller"]
STREETS = ["Hauptstraße", "Baker Street", "Rue de la Paix", "Via Roma", "Calle Mayor",
           "Storgatan", "Market Street", "Lindenweg", "Kirkegade", "Elm Avenue"]
CITIES = [("Berlin", "10115", "Germany"), ("London", "NW1 6XE", "United Kingdom"),
          ("Paris", "75002", "France"), ("Roma", "00184", "Italy"), ("Madrid", "28013", "Spain"),
          ("Stockholm", "111 20", "Sweden"), ("Dublin", "D02 X285", "Ireland"),
          ("Wien", "1010", "Austria"), ("København", "1150", "Denmark"), ("Boston", "02108", "USA")]


def card(uid, rng):
    given, family = rng.choice(GIVEN), rng.choice(FAMILY)
    city, code, country = rng.choice(CITIES)
    street = "%s %d" % (rng.choice(STREETS), rng.randint(1, 200))
    mobile = "+49 170 %07d" % rng.randint(0, 9999999)
    work = "+49 30 %07d" % rng.randint(0, 9999999)
    mail = "%s.%s@example.org" % (given.lower(), family.lower().replace("'", ""))
    lines = ["BEGIN:VCARD", "VERSION:3.0", "UID:%s" % uid, "N:%s;%s;;;" % (family, given),
             "FN:%s %s" % (given, family), "TEL;TYPE=CELL:%s" % mobile,
             "TEL;TYPE=WORK:%s" % work, "EMAIL;TYPE=INTERNET:%s" % mail,
             "ADR;TYPE=HOME:;;%s;%s;;%s;%s" % (street, city, code, country), "END:VCARD"]
    return "\r\n".join(lines) + "\r\n"


def make(count, folder):
    os.makedirs(folder, exist_ok=True)
    rng = random.Random(count)
    for n in range(count):
        uid = "bench-%06d-%08x" % (n, rng.getrandbits(32))
        with open(os.path.join(folder, uid + ".vcf"), "w", encoding="utf-8", newline="") as out:
            out.write(card(uid, rng))


def edit(count, folder):
    names = sorted(name for name in os.listdir(folder) if name.endswith(".vcf"))
    rng = random.Random()
    for name in rng.sample(names, min(count, len(names))):
        path = os.path.join(folder, name)
        with open(path, encoding="utf-8", newline="") as src:
            lines = src.read().split("\r\n")
        lines = [("TEL;TYPE=WORK:+49 30 %07d" % rng.randint(0, 9999999))
                 if line.startswith("TEL;TYPE=WORK:") else line for line in lines]
        scratch = os.path.join(folder, "." + name + ".edit")
        with open(scratch, "w", encoding="utf-8", newline="") as out:
            out.write("\r\n".join(lines))
        os.replace(scratch, path)


if __name__ == "__main__":
    if len(sys.argv) != 4 or sys.argv[1] not in ("make", "edit"):
        sys.exit(__doc__)
    (make if sys.argv[1] == "make" else edit)(int(sys.argv[2]), sys.argv[3])
