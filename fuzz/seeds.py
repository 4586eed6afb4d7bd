#!/usr/bin/env python3
"""Writes the seed inputs of fuzz/corpus/ (deterministic; run from anywhere).
The input layouts are described at the top of each fuzz_<target>.cpp."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def write(target, name, data):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as out:
        out.write(data)


# text_file: key length, key, name flags (piece count | 8 absolute | 16 no
# "data.txt"), pieces (0 "..", 1 ".", 2 "sub", 3 "", 4 "x", 5 "data.txt"), text.
def text_seed(key, flags, pieces, text):
    return bytes([len(key)]) + key + bytes([flags]) + bytes(pieces) + text


write("text_file", "keyed_value", text_seed(b"gravity", 0, [], b"Friction 0.5\nGravity = 9.8\n"))
write("text_file", "key_at_end", text_seed(b"mass", 1, [0], b"mass 12\nfriction"))
write("text_file", "nul_in_token", text_seed(b"key", 8 | 1, [4], b"key\0tail = 1\nkey = 3"))
write("text_file", "sections", text_seed(b"[moon]", 2, [2, 0],
                                         b"[world]\nGravity = 9.8\n[moon]\ngravity=1.6\n"))


# edge_mesh: shape (vertex count - 3 | 0x80 for a 16-byte stride), tolerance
# in 1/64, face count, x y z per vertex in quarter units, faces (count - 3,
# indices), passes (0 copy, 1 triangulate, 2 stitch, 3 pack, 4 degenerate
# faces, 5 optimize, 6 reverse, 7 regions, 8 small triangles, 9 cache order).
def mesh_seed(points, faces, passes, tolerance=1, wide=False):
    data = bytes([(len(points) - 3) | (0x80 if wide else 0), tolerance, len(faces)])
    for point in points:
        data += struct.pack("3b", *(int(c * 4) for c in point))
    for face in faces:
        data += bytes([len(face) - 3]) + bytes(face)
    return data + bytes(passes)


ALL_PASSES = list(range(10))
write("edge_mesh", "tetrahedron", mesh_seed(
    [(0, 0, 0), (4, 0, 0), (0, 4, 0), (0, 0, 4)],
    [(0, 2, 1), (0, 1, 3), (0, 3, 2), (1, 2, 3)], ALL_PASSES))
write("edge_mesh", "open_box", mesh_seed(
    [(0, 0, 0), (4, 0, 0), (4, 4, 0), (0, 4, 0), (0, 0, 4), (4, 0, 4), (4, 4, 4), (0, 4, 4)],
    [(0, 3, 2, 1), (0, 1, 5, 4), (1, 2, 6, 5), (2, 3, 7, 6), (3, 0, 4, 7)], [1, 9, 5, 0, 7]))
write("edge_mesh", "seam", mesh_seed(
    [(0, 0, 0), (4, 0, 0), (4, 4, 0), (0, 4, 0), (4, 0, 0), (8, 0, 0), (8, 4, 0), (4, 4, 0)],
    [(0, 1, 2, 3), (4, 5, 6, 7)], [2, 0, 1, 9], tolerance=4))
write("edge_mesh", "notched_polygon", mesh_seed(
    [(0, 0, 0), (8, 0, 0), (8, 8, 0), (4, 8, 0), (4, 4, 0), (0, 4, 0)],
    [(0, 1, 2, 3, 4, 5)], [1, 5, 6, 9], wide=True))


# soup_stream: a saved soup: vertex, index and node counts, box minimum and
# maximum (4 floats each), vertices (x, y, z), indices (per face: box-minimum
# vertex, box-maximum vertex, attribute, vertex indices), nodes (right
# minimum, left maximum, direction, left, right; a leaf is
# ((first vertex index position * 128 + vertex count) * 2 + 1), a node its
# index * 2).
def soup_seed(faces):
    points, indices, records = [], [], []
    for attribute, face in enumerate(faces):
        first = len(points)
        points += face
        lo = [min(p[k] for p in face) for k in range(3)]
        hi = [max(p[k] for p in face) for k in range(3)]
        corner = len(points)
        points += [tuple(lo), tuple(hi)]
        records.append((len(indices) + 3, len(face), lo[0], hi[0]))
        indices += [corner, corner + 1, attribute] + list(range(first, first + len(face)))
    records.sort(key=lambda r: r[3])
    nodes = []

    # Both children are numbered before either is built, left first.
    def build(group, index):
        half = len(group) // 2
        parts = (group[:half], group[half:])
        children = []
        for part in parts:
            if len(part) == 1:
                children.append(((part[0][0] * 128 + part[0][1]) * 2 + 1, None))
            else:
                nodes.append(None)
                children.append(((len(nodes) - 1) * 2, part))
        nodes[index] = [min(r[2] for r in parts[1]), max(r[3] for r in parts[0]), 0,
                        children[0][0], children[1][0]]
        for reference, part in children:
            if part is not None:
                build(part, reference // 2)

    if len(records) > 1:
        nodes.append(None)
        build(records, 0)
    xs = [p for point in points for p in point]
    box = [min(xs[0::3] or [0]), min(xs[1::3] or [0]), min(xs[2::3] or [0]), 0,
           max(xs[0::3] or [0]), max(xs[1::3] or [0]), max(xs[2::3] or [0]), 0]
    data = struct.pack("<3i", len(points), len(indices), len(nodes)) + struct.pack("<8f", *box)
    data += b"".join(struct.pack("<3f", *p) for p in points)
    data += struct.pack("<%di" % len(indices), *indices)
    data += b"".join(struct.pack("<2f3I", *n) for n in nodes)
    return data


write("soup_stream", "empty", soup_seed([]))
write("soup_stream", "two_triangles", soup_seed([[(0, 0, 0), (0, 0, 1), (1, 0, 1)], [(1, 0, 0), (1, 0, 1), (2, 0, 1)]]))
write("soup_stream", "quads", soup_seed([[(x, 0, 0), (x, 0, 1), (x + 1, 0, 1), (x + 1, 0, 0)] for x in range(5)]))
