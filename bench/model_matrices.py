"""A detector error model as the matrices BP decoders take."""
import numpy as np
import scipy.sparse


def check_matrices(dem):
    """Detector x column and observable x column matrices of a flattened model, and the column priors."""
    rows, cols, orows, ocols, priors = [], [], [], [], []
    for inst in dem.flattened():
        if inst.type != "error":
            continue
        j = len(priors)
        priors.append(inst.args_copy()[0])
        dets, obs = set(), set()
        for t in inst.targets_copy():
            if t.is_relative_detector_id():
                dets ^= {t.val}
            elif t.is_logical_observable_id():
                obs ^= {t.val}
        rows += sorted(dets)
        cols += [j] * len(dets)
        orows += sorted(obs)
        ocols += [j] * len(obs)
    n = len(priors)
    h = scipy.sparse.csr_matrix((np.ones(len(rows), np.uint8), (rows, cols)), shape=(dem.num_detectors, n))
    o = scipy.sparse.csr_matrix((np.ones(len(orows), np.uint8), (orows, ocols)), shape=(dem.num_observables, n))
    return h, o, np.array(priors)
