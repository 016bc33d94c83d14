# The reference side of textpage_bench: loads one text page with expat and
# collects every text into a dict, doing what the C++ loader does (names matched
# without regard to case, CDATA and nested elements joined into the text).
# textpage_bench runs this file's text with "python3 -c"; it can also be run
# alone:  python3 bench/textpage_bench.py PAGE.xml [RUNS]
# Prints the best parse time (CPU time of the process, which other programs on
# the machine disturb least) in milliseconds and the number of texts.
import sys
import time
from xml.parsers import expat


def load(data):
    texts = {}
    state = {"language": -1, "page": -1, "id": -1, "nested": 0}
    parts = []

    def number(attrs):
        for key, value in attrs.items():
            if key.lower() == "id":
                try:
                    n = int(value.strip())
                except ValueError:
                    return -1
                return n if n >= 0 else -1
        return -1

    def start(name, attrs):
        if state["id"] >= 0:
            state["nested"] += 1
            return
        lower = name.lower()
        if lower == "t" and state["page"] >= 0:
            state["id"] = number(attrs)
            state["nested"] = 0
            parts.clear()
        elif lower == "page":
            state["page"] = number(attrs)
        elif lower == "language":
            state["language"] = number(attrs)

    def end(name):
        if state["id"] >= 0:
            if state["nested"] > 0:
                state["nested"] -= 1
            else:
                texts[(state["language"], state["page"], state["id"])] = "".join(parts)
                state["id"] = -1
        elif name.lower() == "page":
            state["page"] = -1

    def chars(text):
        if state["id"] >= 0:
            parts.append(text)

    parser = expat.ParserCreate()
    parser.buffer_text = True
    parser.StartElementHandler = start
    parser.EndElementHandler = end
    parser.CharacterDataHandler = chars
    parser.Parse(data, True)
    return texts


def main():
    with open(sys.argv[1], "rb") as f:
        data = f.read()
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 5
    best = None
    count = 0
    for _ in range(runs):
        started = time.process_time()
        count = len(load(data))
        elapsed = time.process_time() - started
        best = elapsed if best is None else min(best, elapsed)
    print("%.1f %d" % (best * 1000.0, count))


main()
