"""Self-play files: load returns exactly what was saved, or refuses the file with RecordsFileError
naming it."""

import json
import zipfile

import numpy as np
import pytest

from velmo_game import selfplay


@pytest.fixture(scope="module")
def records():
    return {"games": selfplay.generate("random", 2, None, seed=3, moves=12),
            "matches": selfplay.generate("random", 1, None, seed=3, opponent="random")}


def written(tmp_path, records, kind, suffix):
    if suffix == ".parquet":
        pytest.importorskip("pyarrow")
    path = tmp_path / f"{kind}{suffix}"
    selfplay.save(records[kind], path)
    return path


def refused(path, match=None):
    with pytest.raises(selfplay.RecordsFileError, match=match) as caught:
        selfplay.load(path)
    assert str(path) in str(caught.value)


@pytest.mark.parametrize("suffix", [".npz", ".parquet"])
@pytest.mark.parametrize("kind", ["games", "matches"])
def test_every_damaged_byte_is_refused_or_harmless(tmp_path, records, kind, suffix):
    path = written(tmp_path, records, kind, suffix)
    original = path.read_bytes()
    loaded = selfplay.load(path)
    for name, (dtype, shape) in (selfplay.MATCH_COLUMNS if kind == "matches" else selfplay.COLUMNS).items():
        assert loaded[name].dtype == np.dtype(dtype) and loaded[name].shape == records[kind][name].shape
        np.testing.assert_array_equal(loaded[name], records[kind][name])
    rng = np.random.default_rng(0)
    for offset in rng.choice(len(original), size=60, replace=False):
        damaged = bytearray(original)
        damaged[offset] ^= 1 << int(rng.integers(8))
        path.write_bytes(bytes(damaged))
        try:
            again = selfplay.load(path)
        except selfplay.RecordsFileError as error:
            assert str(path) in str(error)
            continue
        # A flip in bytes no reader looks at (padding, statistics) must leave the data as it was.
        for name in loaded:
            np.testing.assert_array_equal(again[name], loaded[name])
    for length in (0, 10, len(original) // 2, len(original) - 1):
        path.write_bytes(original[:length])
        refused(path)


def rewrite_npz(path, change):
    with np.load(path) as archive:
        members = {name: archive[name] for name in archive.files}
    change(members)
    np.savez(path, **members)


def set_header(members, **fields):
    header = json.loads(members["__velmo__"].tobytes())
    members["__velmo__"] = np.frombuffer(json.dumps({**header, **fields}).encode(), dtype=np.uint8)


@pytest.mark.parametrize(("change", "match"), [
    (lambda m: m.update(reward=m["final_score"], final_score=m["reward"]), "checksum"),  # swapped, same dtype
    (lambda m: m.update(chain=m["action"], action=m["chain"]), "checksum"),
    (lambda m: m.update(turn=m["game"].astype(np.int64)), "dtype int64, not int32"),
    (lambda m: m.update(field=m["field"][:, :13]), r"shape \(\d+, 13, 6\)"),
    (lambda m: m.update(action=m["action"][:-1]), "shape"),
    (lambda m: m.pop("mask"), "missing \\['mask'\\]"),
    (lambda m: m.update(extra=m["action"]), "unexpected \\['extra'\\]"),
    (lambda m: m.pop("__velmo__"), "no velmo records header"),
    (lambda m: set_header(m, format=1), "format 1"),
    (lambda m: set_header(m, kind="matches"), "missing"),
])
def test_npz_columns_are_checked(tmp_path, records, change, match):
    path = written(tmp_path, records, "games", ".npz")
    rewrite_npz(path, change)
    refused(path, match)


@pytest.mark.parametrize(("change", "match"), [
    (lambda t: t.set_column(t.column_names.index("reward"), "reward", t.column("final_score"))
     .set_column(t.column_names.index("final_score"), "final_score", t.column("reward")), "checksum"),
    (lambda t: t.set_column(t.column_names.index("turn"), "turn", t.column("turn").cast("int64")), "dtype int64"),
    (lambda t: t.drop_columns(["mask"]), "missing"),
    (lambda t: t.slice(1), "shape"),
    (lambda t: t.replace_schema_metadata({b"other": b"1"}), "no velmo records header"),
])
def test_parquet_columns_are_checked(tmp_path, records, change, match):
    pq = pytest.importorskip("pyarrow.parquet")
    path = written(tmp_path, records, "games", ".parquet")
    table = pq.read_table(path)
    changed = change(table)
    if not changed.schema.metadata:
        changed = changed.replace_schema_metadata(table.schema.metadata)
    pq.write_table(changed, path)
    refused(path, match)


def test_unreadable_members_and_missing_files(tmp_path, records):
    path = written(tmp_path, records, "games", ".npz")
    with zipfile.ZipFile(path, "a") as archive:
        archive.writestr("junk.npy", b"not an array")
    refused(path)
    with pytest.raises(FileNotFoundError):
        selfplay.load(tmp_path / "absent.npz")
