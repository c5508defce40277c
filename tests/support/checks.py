"""What the Python test scripts share: the failures they collect, each
printed as it is found."""

failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
        print("FAIL:", what)
    return ok
