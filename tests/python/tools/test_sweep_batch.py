"""One sweep batch on its own: error counts against a plain count on the same seeded shots."""
import numpy as np
import pytest

stim = pytest.importorskip("stim")
pytest.importorskip("sinter")

from sweep_decoders import CountingDecoder, FilesOnlyDecoder, PaddedDecoder  # noqa: E402
from vornex_tools import build_decoder  # noqa: E402
from vornex_tools.sinter_plugin import VornexSinterDecoder  # noqa: E402
from vornex_tools.sweeps.batch import TaskPayload, run_batch  # noqa: E402


def three_observable_circuit():
    """A noisy surface-code memory with its logical observable three times over, so predictions have padding."""
    circuit = stim.Circuit.generated("surface_code:rotated_memory_z", distance=3, rounds=3,
                                     after_clifford_depolarization=0.01, before_measure_flip_probability=0.01)
    logical = [stim.target_rec(-7), stim.target_rec(-8), stim.target_rec(-9)]
    circuit.append("OBSERVABLE_INCLUDE", logical, 1)
    circuit.append("OBSERVABLE_INCLUDE", logical, 2)
    return circuit


def payload(circuit, decoder, strong_id):
    dem = circuit.detector_error_model(decompose_errors=True)
    return TaskPayload(strong_id=strong_id, circuit_text=str(circuit), dem_text=str(dem), decoder_name="d",
                       decoder=decoder)


def plain_error_count(circuit, shots, seed):
    """Shots whose predicted observables differ from the sampled ones, one unpacked row at a time."""
    dem = circuit.detector_error_model(decompose_errors=True)
    decoder = build_decoder("matching", dem)
    events, actual = circuit.compile_detector_sampler(seed=seed).sample(shots, separate_observables=True)
    return sum(not np.array_equal(decoder.predict_observables(row.astype(np.uint8)), obs.astype(np.uint8))
               for row, obs in zip(events, actual))


@pytest.mark.parametrize("decoder", [VornexSinterDecoder("matching"), PaddedDecoder(), FilesOnlyDecoder()],
                         ids=["compiled", "padding bits set", "through files"])
def test_batch_counts_every_wrong_prediction_once(decoder):
    circuit = three_observable_circuit()
    for seed, shots in [(1, 1), (2, 700), (3, 2048)]:
        result = run_batch(payload(circuit, decoder, f"three-{type(decoder).__name__}"), shots, seed)
        assert (result.shots, result.errors) == (shots, plain_error_count(circuit, shots, seed))
        assert result.seconds > 0


def test_batch_is_a_function_of_its_seed():
    circuit = three_observable_circuit()
    task = payload(circuit, VornexSinterDecoder("matching"), "seeded")
    first, again, other = run_batch(task, 4000, 9), run_batch(task, 4000, 9), run_batch(task, 4000, 10)
    assert first.errors == again.errors
    assert first.errors > 0 and other.errors > 0


def test_a_thread_compiles_each_task_once_and_keeps_the_recent_ones():
    from vornex_tools.sweeps.batch import COMPILED_TASKS_KEPT
    circuit = three_observable_circuit()
    tasks = [payload(circuit, CountingDecoder(), f"counted-{k}") for k in range(COMPILED_TASKS_KEPT + 1)]
    before = CountingDecoder.compiled
    for seed in range(3):
        run_batch(tasks[0], 10, seed)
    assert CountingDecoder.compiled == before + 1
    for task in tasks[1:]:  # the first task is now the least recently used, past the kept count
        run_batch(task, 10, 0)
    run_batch(tasks[-1], 10, 1)
    assert CountingDecoder.compiled == before + len(tasks)
    run_batch(tasks[0], 10, 4)
    assert CountingDecoder.compiled == before + len(tasks) + 1
