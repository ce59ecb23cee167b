"""Coverage-guided fuzzer for velmo (atheris / libFuzzer).

    python fuzz/fuzz_velmo.py [libFuzzer flags] [corpus directories]

Each input is a byte string that velmo_fuzz_driver.run_one decodes into a sequence of calls.
A failed check is an uncaught AssertionError, a memory or undefined-behaviour error aborts
through the sanitizer; either way libFuzzer writes the input to its artifact prefix. Run it
through fuzz/run_fuzz.sh, which builds the sanitized, coverage-instrumented module first.

Without atheris installed, `--random SECONDS` runs the same driver on seeded random inputs
mutated from the corpus (no coverage feedback): a fallback that still finds crashes.
"""

import os
import random
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))


def _random_mode(seconds, directories, seed):
    import velmo_fuzz_driver

    seeds = []
    for directory in directories:
        for name in sorted(os.listdir(directory)):
            with open(os.path.join(directory, name), "rb") as handle:
                seeds.append(handle.read())
    rng = random.Random(seed)
    deadline = time.monotonic() + seconds
    runs = 0
    while time.monotonic() < deadline:
        data = bytearray(rng.choice(seeds)) if seeds and rng.random() < 0.5 else bytearray()
        for _ in range(rng.randrange(1, 64)):
            if data and rng.random() < 0.6:
                data[rng.randrange(len(data))] = rng.randrange(256)
            else:
                data.insert(rng.randrange(len(data) + 1), rng.randrange(256))
        data = bytes(data)
        try:
            velmo_fuzz_driver.run_one(data)
        except BaseException:
            with open("crash-random-input", "wb") as handle:
                handle.write(data)
            print(f"failing input written to crash-random-input ({data.hex()})", file=sys.stderr)
            raise
        runs += 1
    print(f"random mode: {runs} inputs in {seconds} s, no failure")


def main():
    if len(sys.argv) > 1 and sys.argv[1] == "--random":
        seconds = float(sys.argv[2])
        directories = [arg for arg in sys.argv[3:] if os.path.isdir(arg)]
        _random_mode(seconds, directories, int(os.environ.get("VELMO_FUZZ_SEED", "0")))
        return

    import atheris

    if os.environ.get("VELMO_FUZZ_PYTHON_COVERAGE", "1") == "1":
        # the driver's own branches guide the fuzzer too (which calls it has tried)
        with atheris.instrument_imports(include=["velmo_fuzz_driver"]):
            import velmo_fuzz_driver
    else:
        import velmo_fuzz_driver

    def test_one_input(data):
        velmo_fuzz_driver.run_one(data)

    atheris.Setup(sys.argv, test_one_input)
    atheris.Fuzz()


if __name__ == "__main__":
    main()
