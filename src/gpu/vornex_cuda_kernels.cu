// Union-Find batch kernel: one thread decodes one syndrome, step for step as
// the CPU core in uf/uf_core.cpp does, so both return the same bytes.
//
// The whole text sits inside one VORNEX_KERNEL_TEXT(...) so that a single
// file serves two readers: the module stringifies it and hands the text to
// NVRTC, and the tests compile it as plain C++ with the CUDA qualifiers
// defined away. Hence no preprocessor lines and no headers in here; comments
// are dropped from the embedded text by the preprocessor.
//
// Scratch of thread t, strides in 64 bits (the host allocates exactly these):
//   s32 words [t*S32, (t+1)*S32), S32 = 6N + 1 + 4E:
//     parent N | off N+1 | cursor N | adj_to 2E | adj_q 2E | tparent N | tqubit N | order N
//   s8 bytes  [t*S8, (t+1)*S8),   S8 = 5N + E:
//     rnk N | parity N | has_bnd N | node_par N | visited N | support E
VORNEX_KERNEL_TEXT(

typedef unsigned int vx_u32;
typedef unsigned char vx_u8;
typedef unsigned long long vx_u64;

// No path compression: each thread walks its own short rank-bounded chains.
__device__ vx_u32 vx_root(const vx_u32* parent, vx_u32 x) {
    while (parent[x] != x) x = parent[x];
    return x;
}

// Per-node activity (odd cluster without boundary) as the clusters stand now;
// true when some check is active. The boundary node is not scanned.
__device__ bool vx_mark_active(const vx_u32* parent, const vx_u8* parity, const vx_u8* has_bnd, vx_u8* active,
                               vx_u32 n_checks, vx_u32 n_nodes) {
    bool any = false;
    for (vx_u32 n = 0; n < n_nodes; ++n) {
        const vx_u32 r = vx_root(parent, n);
        const vx_u8 act = (vx_u8)(parity[r] & (has_bnd[r] ^ 1u));
        active[n] = act;
        if (n < n_checks && act) any = true;
    }
    return any;
}

// Union by rank, ties to the a side, flags read from both roots first.
__device__ void vx_union(vx_u32* parent, vx_u8* rnk, vx_u8* parity, vx_u8* has_bnd, vx_u32 a, vx_u32 b) {
    const vx_u32 ra = vx_root(parent, a);
    const vx_u32 rb = vx_root(parent, b);
    if (ra == rb) return;
    const vx_u8 par = (vx_u8)(parity[ra] ^ parity[rb]);
    const vx_u8 bnd = (vx_u8)(has_bnd[ra] | has_bnd[rb]);
    vx_u32 root;
    if (rnk[ra] < rnk[rb]) {
        parent[ra] = rb;
        root = rb;
    } else if (rnk[ra] > rnk[rb]) {
        parent[rb] = ra;
        root = ra;
    } else {
        parent[rb] = ra;
        rnk[ra] = (vx_u8)(rnk[ra] + 1);
        root = ra;
    }
    parity[root] = par;
    has_bnd[root] = bnd;
}

extern "C" __global__ void uf_decode_batch_cuda(const vx_u8* syndromes, const vx_u32* edge_a, const vx_u32* edge_b,
                                                const vx_u32* edge_q, vx_u8* corrections, vx_u32* s32, vx_u8* s8,
                                                vx_u32 n_qubits, vx_u32 n_checks, vx_u32 n_nodes, vx_u32 n_edges,
                                                vx_u32 batch_size) {
    const vx_u64 t = (vx_u64)blockIdx.x * (vx_u64)blockDim.x + (vx_u64)threadIdx.x;
    if (t >= (vx_u64)batch_size) return;

    const vx_u64 N = n_nodes;
    const vx_u64 E = n_edges;
    const vx_u64 S32 = 6 * N + 1 + 4 * E;
    const vx_u64 S8 = 5 * N + E;
    vx_u32* parent = s32 + t * S32;
    vx_u32* off = parent + N;
    vx_u32* cursor = off + N + 1;
    vx_u32* adj_to = cursor + N;
    vx_u32* adj_q = adj_to + 2 * E;
    vx_u32* tparent = adj_q + 2 * E;
    vx_u32* tqubit = tparent + N;
    vx_u32* order = tqubit + N;
    vx_u8* rnk = s8 + t * S8;
    vx_u8* parity = rnk + N;
    vx_u8* has_bnd = parity + N;
    vx_u8* node_par = has_bnd + N;
    vx_u8* visited = node_par + N;
    vx_u8* support = visited + N;
    const vx_u8* syndrome = syndromes + t * (vx_u64)n_checks;
    vx_u8* correction = corrections + t * (vx_u64)n_qubits;

    for (vx_u32 q = 0; q < n_qubits; ++q) correction[q] = 0;
    for (vx_u32 n = 0; n < n_nodes; ++n) {
        parent[n] = n;
        rnk[n] = 0;
        parity[n] = 0;
        has_bnd[n] = 0;
    }
    has_bnd[n_checks] = 1;
    for (vx_u32 c = 0; c < n_checks; ++c) parity[c] = (vx_u8)(syndrome[c] & 1u);
    for (vx_u32 e = 0; e < n_edges; ++e) support[e] = 0;

    // Growth until no check is active or a pass grows nothing; every round
    // that goes on raises some support, so this ends within 2E + 1 rounds.
    // `visited` holds the activity flags and `adj_to` the edges that filled
    // up this round (re-merging older full edges would change nothing).
    vx_u8* active = visited;
    vx_u32* newly_full = adj_to;
    while (vx_mark_active(parent, parity, has_bnd, active, n_checks, n_nodes)) {
        bool grew = false;
        vx_u32 n_full = 0;
        for (vx_u32 e = 0; e < n_edges; ++e) {
            const vx_u32 s = support[e];
            if (s == 2) continue;
            const vx_u32 inc = (vx_u32)active[edge_a[e]] + (vx_u32)active[edge_b[e]];
            if (inc == 0) continue;
            const vx_u32 grown = s + inc < 2 ? s + inc : 2;
            support[e] = (vx_u8)grown;
            grew = true;
            if (grown == 2) newly_full[n_full++] = e;
        }
        if (!grew) break;
        for (vx_u32 i = 0; i < n_full; ++i) {
            const vx_u32 e = newly_full[i];
            vx_union(parent, rnk, parity, has_bnd, edge_a[e], edge_b[e]);
        }
    }

    // Adjacency of the fully grown edges only: an edge that never grew stays
    // out even when its ends share a cluster, as in the CPU core.
    for (vx_u32 n = 0; n <= n_nodes; ++n) off[n] = 0;
    for (vx_u32 e = 0; e < n_edges; ++e) {
        if (support[e] != 2) continue;
        off[edge_a[e] + 1] += 1;
        off[edge_b[e] + 1] += 1;
    }
    for (vx_u32 n = 0; n < n_nodes; ++n) off[n + 1] += off[n];
    for (vx_u32 n = 0; n < n_nodes; ++n) cursor[n] = off[n];
    for (vx_u32 e = 0; e < n_edges; ++e) {
        if (support[e] != 2) continue;
        const vx_u32 a = edge_a[e];
        const vx_u32 b = edge_b[e];
        vx_u32 i = cursor[a]++;
        adj_to[i] = b;
        adj_q[i] = edge_q[e];
        i = cursor[b]++;
        adj_to[i] = a;
        adj_q[i] = edge_q[e];
    }

    // Breadth-first forest: the boundary's tree first, then one tree per
    // unvisited node in ascending order; `order` is also the queue.
    for (vx_u32 n = 0; n < n_nodes; ++n) {
        visited[n] = 0;
        tparent[n] = n;
        tqubit[n] = 0xFFFFFFFFu;
    }
    vx_u32 tail = 0;
    for (vx_u64 k = 0; k <= N; ++k) {
        const vx_u32 start = k == 0 ? n_checks : (vx_u32)(k - 1);
        if (visited[start]) continue;
        visited[start] = 1;
        vx_u32 head = tail;
        order[tail++] = start;
        while (head < tail) {
            const vx_u32 u = order[head++];
            for (vx_u32 i = off[u]; i < off[u + 1]; ++i) {
                const vx_u32 v = adj_to[i];
                if (visited[v]) continue;
                visited[v] = 1;
                tparent[v] = u;
                tqubit[v] = adj_q[i];
                order[tail++] = v;
            }
        }
    }

    // Peeling, leaves first: a defect moves to its tree parent along the
    // tree edge; the boundary absorbs it, any other root keeps it.
    for (vx_u32 c = 0; c < n_checks; ++c) node_par[c] = (vx_u8)(syndrome[c] & 1u);
    node_par[n_checks] = 0;
    for (vx_u32 i = n_nodes; i-- > 0;) {
        const vx_u32 v = order[i];
        const vx_u32 p = tparent[v];
        if (p == v || !node_par[v]) continue;
        const vx_u32 q = tqubit[v];
        if (q < n_qubits) correction[q] ^= 1u;
        node_par[p] ^= 1u;
        node_par[v] = 0;
    }
}

)
