"""Weights files shared between processes: a saver rewriting the file while
a loader reads it, in two child processes. The loader must never die of a
signal and every load that succeeds must see one whole file."""
import subprocess
import sys
import textwrap

CHILD = textwrap.dedent(
    """
    import sys, time
    import vornex_decoder_v3 as vx

    role, path, seconds = sys.argv[1], sys.argv[2], float(sys.argv[3])
    g = vx.DetectorGraph([[0, 1], [1, 2], [2, 3], [3, 0, 4]], [1, 0, 1, 0])
    # Two networks of the same sizes whose files differ in every tensor;
    # hidden size 64 makes a file of about 160 kB, slow enough to interleave.
    nets = [vx.GNNPredecoder(10, 8, 64, 3) for _ in range(2)]
    if role == "save":
        for k, net in enumerate(nets):
            net.save_weights(f"{path}.{k}")
        net = vx.GNNPredecoder(10, 8, 64, 3)
        net.load_weights(f"{path}.0")
        net.save_weights(path)
        print("ready", flush=True)
        deadline = time.monotonic() + seconds
        saves = 0
        while time.monotonic() < deadline:
            nets[saves % 2].save_weights(path)
            saves += 1
        print(saves)
    else:
        expected = []
        for k in range(2):
            net = vx.GNNPredecoder(10, 8, 64, 3)
            net.load_weights(f"{path}.{k}")
            expected.append(net.forward(g))
        reader = vx.GNNPredecoder(10, 8, 64, 3)
        deadline = time.monotonic() + seconds
        loads = torn = 0
        while time.monotonic() < deadline:
            reader.load_weights(path)
            loads += 1
            if reader.forward(g) not in expected:
                torn += 1
        print(loads, torn)
    """
)


def test_loader_racing_a_saver_sees_whole_files(tmp_path):
    path = str(tmp_path / "shared.safetensors")
    saver = subprocess.Popen([sys.executable, "-c", CHILD, "save", path, "2.0"], stdout=subprocess.PIPE, text=True)
    try:
        assert saver.stdout.readline().strip() == "ready"
        loader = subprocess.run(
            [sys.executable, "-c", CHILD, "load", path, "1.5"], capture_output=True, text=True, timeout=120
        )
    finally:
        saves = saver.communicate(timeout=120)[0]
    assert loader.returncode == 0, loader.stderr  # a SIGBUS shows here as -7
    assert saver.returncode == 0
    loads, torn = map(int, loader.stdout.split())
    assert int(saves) > 10 and loads > 10
    assert torn == 0
    # Nothing left behind but the three files written.
    assert sorted(p.name for p in tmp_path.iterdir()) == ["shared.safetensors", "shared.safetensors.0",
                                                          "shared.safetensors.1"]
