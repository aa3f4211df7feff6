// Union-Find batch kernels: one thread decodes one syndrome, step for step as
// the CPU core in uf/uf_core.cpp does, so both return the same bytes.
//
// The whole text sits inside one VORNEX_KERNEL_TEXT(...) so that a single
// file serves two readers: the module stringifies it and hands the text to
// NVRTC, and the tests compile it as plain C++ with the CUDA qualifiers
// defined away. Hence no preprocessor lines and no headers in here; comments
// are dropped from the embedded text by the preprocessor.
//
// The algorithm is written once (vx_decode_shot) over "views": an array of
// one thread's scratch seen through operator[]. Two layouts instantiate it.
//
// uf_decode_batch_cuda, contiguous per thread, 32-bit indices:
//   s32 words [t*S32, (t+1)*S32), S32 = 6N + 1 + 4E:
//     parent N | off N+1 | cursor N | adj_to 2E | adj_q 2E | tparent N | tqubit N | order N
//   s8 bytes  [t*S8, (t+1)*S8),   S8 = 5N + E:
//     rnk N | parity N | has_bnd N | node_par N | visited N | support E
// Every access of a warp then touches 32 lines S32 * 4 bytes apart.
//
// uf_decode_batch_lanes_u16 / _u32, interleaved across the 32 lanes of a
// warp (structure of arrays): element k of thread t's scratch sits at
//   (t / 32) * S * 32 + k * 32 + t % 32
// of its area, so the 32 lanes' k-th elements are adjacent and one warp-wide
// access is one or two 64-byte stretches. Same partition and strides as above
// (S = S32 index elements, S8 bytes), with the index type the graph allows:
// 16 bits when every node, qubit and adjacency offset fits below 0xFFFF.
// The edge arrays are read by every thread alike and are in the same type.
// The host allocates whole warps: batch rounded up to a multiple of 32.
VORNEX_KERNEL_TEXT(

typedef unsigned int vx_u32;
typedef unsigned short vx_u16;
typedef unsigned char vx_u8;
typedef unsigned long long vx_u64;

// One thread's array in the contiguous layout.
template <class T>
struct vx_flat {
    typedef T value_type;
    T* p;
    __device__ T& operator[](vx_u64 k) const { return p[k]; }
};

// One thread's array interleaved with its warp's 31 other lanes.
template <class T>
struct vx_lane {
    typedef T value_type;
    T* p;
    __device__ T& operator[](vx_u64 k) const { return p[k * 32]; }
};

// No path compression: each thread walks its own short rank-bounded chains.
template <class Idx>
__device__ vx_u32 vx_root(const Idx& parent, vx_u32 x) {
    while ((vx_u32)parent[x] != x) x = parent[x];
    return x;
}

// Per-node activity (odd cluster without boundary) as the clusters stand now;
// true when some check is active. The boundary node is not scanned.
template <class Idx, class Byte>
__device__ bool vx_mark_active(const Idx& parent, const Byte& parity, const Byte& has_bnd, const Byte& active,
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
template <class Idx, class Byte>
__device__ void vx_union(const Idx& parent, const Byte& rnk, const Byte& parity, const Byte& has_bnd, vx_u32 a,
                         vx_u32 b) {
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

// One thread's scratch: index arrays of type Idx (a view), bytes of type
// Byte, carved from the two areas in the partition order above. `at(k)`
// gives the view that starts at element k of the thread's area.
template <class Idx, class Byte>
struct vx_scratch {
    Idx parent, off, cursor, adj_to, adj_q, tparent, tqubit, order;
    Byte rnk, parity, has_bnd, node_par, visited, support;
};

// One thread's share of the two areas: index elements and bytes.
__device__ vx_u64 vx_index_stride(vx_u64 N, vx_u64 E) { return 6 * N + 1 + 4 * E; }
__device__ vx_u64 vx_byte_stride(vx_u64 N, vx_u64 E) { return 5 * N + E; }

template <template <class> class View, class I>
__device__ vx_scratch<View<I>, View<vx_u8>> vx_carve(I* idx, vx_u8* bytes, vx_u64 stride, vx_u64 N, vx_u64 E) {
    vx_scratch<View<I>, View<vx_u8>> s;
    s.parent.p = idx;
    s.off.p = idx + stride * N;
    s.cursor.p = idx + stride * (2 * N + 1);
    s.adj_to.p = idx + stride * (3 * N + 1);
    s.adj_q.p = idx + stride * (3 * N + 1 + 2 * E);
    s.tparent.p = idx + stride * (3 * N + 1 + 4 * E);
    s.tqubit.p = idx + stride * (4 * N + 1 + 4 * E);
    s.order.p = idx + stride * (5 * N + 1 + 4 * E);
    s.rnk.p = bytes;
    s.parity.p = bytes + stride * N;
    s.has_bnd.p = bytes + stride * 2 * N;
    s.node_par.p = bytes + stride * 3 * N;
    s.visited.p = bytes + stride * 4 * N;
    s.support.p = bytes + stride * 5 * N;
    return s;
}

// Decodes one syndrome row into one correction row.
template <class Idx, class Byte, class E_>
__device__ void vx_decode_shot(const vx_scratch<Idx, Byte>& s, const vx_u8* syndrome, vx_u8* correction,
                               const E_* edge_a, const E_* edge_b, const E_* edge_q, vx_u32 n_qubits,
                               vx_u32 n_checks, vx_u32 n_nodes, vx_u32 n_edges) {
    for (vx_u32 q = 0; q < n_qubits; ++q) correction[q] = 0;
    for (vx_u32 n = 0; n < n_nodes; ++n) {
        s.parent[n] = n;
        s.rnk[n] = 0;
        s.parity[n] = 0;
        s.has_bnd[n] = 0;
    }
    s.has_bnd[n_checks] = 1;
    for (vx_u32 c = 0; c < n_checks; ++c) s.parity[c] = (vx_u8)(syndrome[c] & 1u);
    for (vx_u32 e = 0; e < n_edges; ++e) s.support[e] = 0;

    // Growth until no check is active or a pass grows nothing; every round
    // that goes on raises some support, so this ends within 2E + 1 rounds.
    // `visited` holds the activity flags and `adj_to` the edges that filled
    // up this round (re-merging older full edges would change nothing).
    const Byte& active = s.visited;
    const Idx& newly_full = s.adj_to;
    while (vx_mark_active(s.parent, s.parity, s.has_bnd, active, n_checks, n_nodes)) {
        bool grew = false;
        vx_u32 n_full = 0;
        for (vx_u32 e = 0; e < n_edges; ++e) {
            const vx_u32 sup = s.support[e];
            if (sup == 2) continue;
            const vx_u32 inc = (vx_u32)active[edge_a[e]] + (vx_u32)active[edge_b[e]];
            if (inc == 0) continue;
            const vx_u32 grown = sup + inc < 2 ? sup + inc : 2;
            s.support[e] = (vx_u8)grown;
            grew = true;
            if (grown == 2) newly_full[n_full++] = e;
        }
        if (!grew) break;
        for (vx_u32 i = 0; i < n_full; ++i) {
            const vx_u32 e = newly_full[i];
            vx_union(s.parent, s.rnk, s.parity, s.has_bnd, edge_a[e], edge_b[e]);
        }
    }

    // Adjacency of the fully grown edges only: an edge that never grew stays
    // out even when its ends share a cluster, as in the CPU core.
    for (vx_u32 n = 0; n <= n_nodes; ++n) s.off[n] = 0;
    for (vx_u32 e = 0; e < n_edges; ++e) {
        if (s.support[e] != 2) continue;
        s.off[edge_a[e] + 1] += 1;
        s.off[edge_b[e] + 1] += 1;
    }
    for (vx_u32 n = 0; n < n_nodes; ++n) s.off[n + 1] += s.off[n];
    for (vx_u32 n = 0; n < n_nodes; ++n) s.cursor[n] = s.off[n];
    for (vx_u32 e = 0; e < n_edges; ++e) {
        if (s.support[e] != 2) continue;
        const vx_u32 a = edge_a[e];
        const vx_u32 b = edge_b[e];
        vx_u32 i = s.cursor[a];
        s.cursor[a] = i + 1;
        s.adj_to[i] = b;
        s.adj_q[i] = edge_q[e];
        i = s.cursor[b];
        s.cursor[b] = i + 1;
        s.adj_to[i] = a;
        s.adj_q[i] = edge_q[e];
    }

    // Breadth-first forest: the boundary's tree first, then one tree per
    // unvisited node in ascending order; `order` is also the queue. A root's
    // tree qubit stays all ones; it is never read.
    for (vx_u32 n = 0; n < n_nodes; ++n) {
        s.visited[n] = 0;
        s.tparent[n] = n;
        s.tqubit[n] = (typename Idx::value_type)~(typename Idx::value_type)0;
    }
    vx_u32 tail = 0;
    for (vx_u64 k = 0; k <= (vx_u64)n_nodes; ++k) {
        const vx_u32 start = k == 0 ? n_checks : (vx_u32)(k - 1);
        if (s.visited[start]) continue;
        s.visited[start] = 1;
        vx_u32 head = tail;
        s.order[tail++] = start;
        while (head < tail) {
            const vx_u32 u = s.order[head++];
            const vx_u32 end = s.off[u + 1];
            for (vx_u32 i = s.off[u]; i < end; ++i) {
                const vx_u32 v = s.adj_to[i];
                if (s.visited[v]) continue;
                s.visited[v] = 1;
                s.tparent[v] = u;
                s.tqubit[v] = s.adj_q[i];
                s.order[tail++] = v;
            }
        }
    }

    // Peeling, leaves first: a defect moves to its tree parent along the
    // tree edge; the boundary absorbs it, any other root keeps it.
    for (vx_u32 c = 0; c < n_checks; ++c) s.node_par[c] = (vx_u8)(syndrome[c] & 1u);
    s.node_par[n_checks] = 0;
    for (vx_u32 i = n_nodes; i-- > 0;) {
        const vx_u32 v = s.order[i];
        const vx_u32 p = s.tparent[v];
        if (p == v || !s.node_par[v]) continue;
        const vx_u32 q = s.tqubit[v];
        if (q < n_qubits) correction[q] ^= 1u;
        s.node_par[p] ^= 1u;
        s.node_par[v] = 0;
    }
}

__device__ vx_u64 vx_thread_index() { return (vx_u64)blockIdx.x * (vx_u64)blockDim.x + (vx_u64)threadIdx.x; }

extern "C" __global__ void uf_decode_batch_cuda(const vx_u8* syndromes, const vx_u32* edge_a, const vx_u32* edge_b,
                                                const vx_u32* edge_q, vx_u8* corrections, vx_u32* s32, vx_u8* s8,
                                                vx_u32 n_qubits, vx_u32 n_checks, vx_u32 n_nodes, vx_u32 n_edges,
                                                vx_u32 batch_size) {
    const vx_u64 t = vx_thread_index();
    if (t >= (vx_u64)batch_size) return;
    const vx_u64 N = n_nodes, E = n_edges;
    const vx_scratch<vx_flat<vx_u32>, vx_flat<vx_u8>> s =
        vx_carve<vx_flat>(s32 + t * vx_index_stride(N, E), s8 + t * vx_byte_stride(N, E), 1, N, E);
    vx_decode_shot(s, syndromes + t * (vx_u64)n_checks, corrections + t * (vx_u64)n_qubits, edge_a, edge_b, edge_q,
                   n_qubits, n_checks, n_nodes, n_edges);
}

// The interleaved layout for index type I; see the top of this file.
template <class I>
__device__ void vx_decode_lanes(const vx_u8* syndromes, const I* edge_a, const I* edge_b, const I* edge_q,
                                vx_u8* corrections, I* sidx, vx_u8* s8, vx_u32 n_qubits, vx_u32 n_checks,
                                vx_u32 n_nodes, vx_u32 n_edges, vx_u32 batch_size) {
    const vx_u64 t = vx_thread_index();
    if (t >= (vx_u64)batch_size) return;
    const vx_u64 N = n_nodes, E = n_edges;
    const vx_u64 warp = t / 32, lane = t % 32;
    const vx_scratch<vx_lane<I>, vx_lane<vx_u8>> s = vx_carve<vx_lane>(
        sidx + warp * vx_index_stride(N, E) * 32 + lane, s8 + warp * vx_byte_stride(N, E) * 32 + lane, 32, N, E);
    vx_decode_shot(s, syndromes + t * (vx_u64)n_checks, corrections + t * (vx_u64)n_qubits, edge_a, edge_b, edge_q,
                   n_qubits, n_checks, n_nodes, n_edges);
}

extern "C" __global__ void uf_decode_batch_lanes_u16(const vx_u8* syndromes, const vx_u16* edge_a,
                                                     const vx_u16* edge_b, const vx_u16* edge_q, vx_u8* corrections,
                                                     vx_u16* sidx, vx_u8* s8, vx_u32 n_qubits, vx_u32 n_checks,
                                                     vx_u32 n_nodes, vx_u32 n_edges, vx_u32 batch_size) {
    vx_decode_lanes(syndromes, edge_a, edge_b, edge_q, corrections, sidx, s8, n_qubits, n_checks, n_nodes, n_edges,
                    batch_size);
}

extern "C" __global__ void uf_decode_batch_lanes_u32(const vx_u8* syndromes, const vx_u32* edge_a,
                                                     const vx_u32* edge_b, const vx_u32* edge_q, vx_u8* corrections,
                                                     vx_u32* sidx, vx_u8* s8, vx_u32 n_qubits, vx_u32 n_checks,
                                                     vx_u32 n_nodes, vx_u32 n_edges, vx_u32 batch_size) {
    vx_decode_lanes(syndromes, edge_a, edge_b, edge_q, corrections, sidx, s8, n_qubits, n_checks, n_nodes, n_edges,
                    batch_size);
}

)
