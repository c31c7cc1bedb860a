"""Reads a card through the package and prints it for tests/packages/check_packages.py.

    python3 probe.py EDITION PORT [LIBRARY]
"""
import datetime
import sys

import ridel


def show(value):
    if value is None:
        return "none"
    return ("date:" if isinstance(value, datetime.date) else "text:") + str(value)


def main():
    edition, port = sys.argv[1], int(sys.argv[2])
    library = sys.argv[3] if len(sys.argv) > 3 else None
    try:
        card = ridel.read_card(edition, library=library, port=port)
    except ridel.CardError as e:
        print("error=%s|%s|%d|%s" % (e.step, e.call, e.code, e.meaning))
        print("message=%s" % e)
        return 3
    for key in ("name", "sex_code", "sex", "nation_code", "nation", "address", "id_number",
                "authority", "sam"):
        print("%s=%s" % (key, getattr(card, key)))
    for key in ("birth", "valid_from", "valid_to", "appended_address"):
        print("%s=%s" % (key, show(getattr(card, key))))
    print("photo=%d %s" % (len(card.photo), card.photo[:30].hex()))
    return 0


if __name__ == "__main__":
    sys.stdout.reconfigure(encoding="utf-8")
    sys.exit(main())
