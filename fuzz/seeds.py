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


# world: byte 0 flags (1 wild, 2 scalar solver, 4-12 iteration mode, 16
# callbacks act during teardown), then operations: an opcode byte (0-1
# shape, 2 release shape, 3-4 body, 5 destroy body, 6 body setter, 7 world
# setter, 8 material, 9-10 update, 11 walk, 12 query, 13 arm a callback, 14
# joint, 15 vehicle, 16 hierarchy) and
# its arguments; values are two bytes over [-range, range) or one escape byte
# 0xF0-0xFF (fuzz_world.cpp's tables).
def wv(v, r):
    n = min(int(round((v / r + 1.0) / 2.0 * 0xF000)), 0xEFFF)
    return bytes([n >> 8, n & 255])


def wvs(vs, r):
    return b"".join(wv(v, r) for v in vs)


def pose(position, angles=(0, 0, 0), reach=30.0):
    return bytes([0]) + wvs(angles, 3.2) + wvs(position, reach)


def box(dx, dy, dz):
    return bytes([0, 0]) + wvs((dx, dy, dz), 4.0) + bytes([0, 0])


def sphere(r):
    return bytes([0, 1]) + wv(r, 2.0) + bytes([0, 0])


def body(shape, position, mass=1.0, force_mode=1, callbacks=0, velocity=(0, 0, 0), omega=(0, 0, 0)):
    return (bytes([3, shape, force_mode]) + wvs((0, 0, 0), 20.0) + wvs((0, 0, 0), 5.0) + bytes([callbacks]) +
            wvs((mass, mass, mass, mass), 10.0) + pose(position) + wvs(velocity, 10.0) + wvs(omega, 3.0))


def updates(n):
    return (bytes([9]) + wv(1.0 / 60.0, 0.03)) * n


stack = box(20, 1, 20) + box(1, 1, 1) + body(0, (0, -0.5, 0), mass=0.0, force_mode=0)
for level in range(3):
    stack += body(1, (0.1 * level, 0.5 + 1.01 * level, 0), callbacks=3)
write("world", "box_stack", bytes([0]) + stack + updates(30))

# A tree floor (two faces), spheres and a capsule with contact callbacks that
# destroy a body and create one.
tree = bytes([0, 11, 1, 2, 3, 0, 0, 0, 3, 8, 0, 0, 1, 0])
scene = tree + sphere(0.5) + bytes([0, 4]) + wvs((0.3, 1.0), 2.0)[:2] + wv(1.0, 4.0) + bytes([0, 0])
scene += body(0, (0, 0, 0), mass=0.0, force_mode=0) + body(1, (0, 1, 0), callbacks=2) + body(2, (2, 2, 0))
scene += bytes([8, 5, 0, 0, 7])  # begin, process, end on the default pair
scene += bytes([13, 6, 0x40, 2]) + bytes(range(12))  # process sets contact values
scene += bytes([13, 5, 0x80, 1]) + bytes(12)  # begin destroys a body
scene += bytes([13, 0, 1, 2]) + bytes([0, 1, 0, 0]) + bytes(8)  # force creates a body
write("world", "tree_contacts", bytes([0]) + scene + updates(40))

# Every primitive, a hull, a compound and a modifier, walked and queried.
shapes = box(1, 2, 3) + sphere(1) + bytes([0, 2]) + wvs((1, 0.5, 0.7), 2.0) + bytes([0, 0])
for kind in (3, 4, 5, 6):
    shapes += bytes([0, kind]) + wv(0.5, 2.0) + wv(1.5, 4.0) + bytes([0, 0])
shapes += bytes([0, 7, 8, 0]) + wvs([c for i in range(8) for c in ((i & 1) - 0.5, (i >> 1 & 1) - 0.5, (i >> 2) - 0.5)], 2.0) + bytes([0, 0])
shapes += bytes([0, 8, 3, 0, 1, 2, 0]) + bytes([0, 9, 3, 0]) + bytes([0, 10, 0]) + bytes([0, 14]) + wvs((1, 1, 1), 3.0) + \
    pose((0, 0, 0)) + wvs((0.2,) * 12, 1.0) + bytes([0])
bodies = b"".join(body(i, (3.0 * (i % 4) - 4.0, 2.0 * (i // 4), 0), callbacks=1) for i in range(12))
walks = bytes([11, 0, 11, 1]) + wvs((-20, -20, -20, 20, 20, 20), 40.0) + bytes([11, 2]) + \
    wvs((-30, 1, 0, 30, 1, 0), 50.0) + bytes([11, 3, 8, 11, 3, 9])
queries = b"".join(bytes([12, q, 0, 8]) + pose((0, 0, 0)) + pose((1, 0.5, 0)) + bytes([16] * 40) for q in range(6))
write("world", "every_shape", bytes([2]) + shapes + bodies + updates(10) + walks + queries + updates(10))

# Wild values through the setters, the world box and the frame rate.
wild = box(1, 1, 1) + body(0, (0, 2, 0)) + body(0, (0, 4, 0))
for setter in range(20):
    wild += bytes([6, setter % 2, setter]) + bytes([0xF0 + setter % 16] * 20)
wild += bytes([7, 0]) + bytes([0xF3] * 3) + bytes([0xF4] * 3) + bytes([7, 1, 0xF0]) + updates(5)
# World boxes of denormal extents, each followed by a step.
wild += bytes([7, 0]) + bytes([0xFA] * 3) + bytes([0xFE] * 3) + updates(1)
wild += bytes([7, 0]) + bytes([0xFA] * 3) + bytes([0xF3, 0xFC, 0xF3]) + updates(1)
write("world", "wild_setters", bytes([1]) + wild)


def arm(kind, action, count, args=()):
    return bytes([13, kind, action, count]) + bytes(list(args) + [0] * (12 - len(args)))


# Callbacks that swap the walked body's shape and destroy bodies from face
# walks, world walks and the compound callback of the contact pass; a
# long-lever impulse; a world box with denormal extents; bodies destroyed
# with activation callbacks that read their shapes.
swaps = box(1, 1, 1) + sphere(0.5) + bytes([0, 8, 2, 0, 1, 0]) + bytes([0, 9, 0, 0])
swaps += body(2, (0, 0, 0), callbacks=2) + body(3, (3, 0, 0), callbacks=2) + body(0, (0, -1.2, 0), mass=0.0)
swaps += arm(11, 0x84, 2, [0, 1]) + bytes([11, 3, 0, 11, 3, 1])  # face walks swap to the sphere
swaps += arm(9, 0x84, 1, [0, 0]) + bytes([11, 0])  # the world walk swaps back to the box
swaps += bytes([8, 6 | 0x40, 0, 0]) + arm(8, 0x84, 1, [0, 2])  # the compound callback swaps
swaps += updates(4) + arm(11, 0x80, 1) + bytes([11, 3, 1])  # a face walk destroys its body
swaps += bytes([6, 0, 138]) + wvs((1, 2, 3), 20.0) + bytes([0xF2, 0xF2, 0xF0])  # lever (1e6, 1e6, 0)
swaps += updates(4) + bytes([5, 0]) + updates(2)
write("world", "walk_swaps", bytes([0]) + swaps)

# A floor, a car of four tires on a box chassis, a hinge driven hard by its
# callback and a pendulum of ball joints, a two-part hierarchy; the tire
# callback destroys a joint and the joint destructor creates another.
rig = box(20, 1, 20) + box(4, 1.5, 2) + box(1, 1, 1) + body(0, (0, -0.5, 0), mass=0.0, force_mode=0)
rig += body(1, (0, 1.5, 0), mass=5.0, callbacks=8) + body(2, (4, 3, 0)) + body(2, (5, 3, 0))

def tire(x, z):
    return pose((x, -0.75, z), (0, 1.5708, 0), 3.0) + wvs((1, 0, 0), 1.0) + wv(0, 1.0) + wv(20, 40.0) + \
        wvs((0.25, 0.35), 1.0) + wv(400, 500.0) + wv(3000, 5000.0) + wv(0.3, 1.0) + bytes([0]) + wv(0, 1.0)


rig += bytes([15, 0, 1]) + wvs((0, 1, 0), 1.0) + bytes([4]) + tire(1.3, 0.9) + tire(1.3, -0.9) + tire(-1.3, 0.9) + \
    tire(-1.3, -0.9)
# A hinge from the third body to the world, its callback on (4), and a ball
# from the fourth to the third (1 | 2 << 1: parent index 2, callback on).
rig += bytes([14, 0, 1, 2, 4]) + wvs((4.5, 3, 0), 30.0) + wvs((0, 0, 1), 1.0) + wvs((1, 0, 0), 1.0)
rig += bytes([14, 0, 0, 3, 5]) + wvs((5.5, 3, 0), 30.0) + wvs((0, 1, 0), 1.0) + wvs((1, 0, 0), 1.0)
rig += bytes([16, 0, 1, 1]) + pose((-5, 3, 0)) + wvs((1, 0.5, 0.5), 2.0) + bytes([0]) + wv(2.0, 10.0) + bytes([2]) + \
    pose((1, 0, 0)) + wvs((1, 0.5, 0.5), 2.0) + bytes([0]) + wv(1.0, 10.0) + bytes([2])
rig += arm(16, 0x40 | 1, 4, [0x20, 0, 0, 0]) + arm(15, 0x10, 1, [0]) + arm(18, 0x11, 2, [1, 0, 1, 0])
write("world", "joints_vehicles", bytes([0]) + rig + updates(40) + bytes([15, 3, 0]) + updates(10))


# height_map: sample width (0 16, 1 8, 4 24, 5 32 bits | 8 no file), count of
# (x, z) float pairs, the pairs, then the file.
def height_seed(width, pairs, file):
    return bytes([width, len(pairs)]) + b"".join(struct.pack("<2f", x, z) for x, z in pairs) + file


def samples16(values):
    return b"".join(struct.pack("<H", v) for v in values)


write("height_map", "two_rows16", height_seed(0, [(10.0, 10.0), (5119.0, -3.0), (-40.0, 9000.0)],
                                              samples16((i * 977) % 65536 for i in range(2 * 257))))
write("height_map", "short8", height_seed(1, [(float("nan"), 20.0), (float("inf"), float("-inf")), (3e38, 7.5)],
                                          bytes((i * 31) % 256 for i in range(700))))
write("height_map", "odd_byte16", height_seed(0, [(30.0, 30.0)], samples16([65535] * 300) + b"\xff"))
write("height_map", "empty16", height_seed(0, [(0.0, 0.0)], b""))
write("height_map", "wide24", height_seed(4, [(100.0, 100.0)], bytes(64)))
write("height_map", "no_file", height_seed(8, [(100.0, 100.0)], b""))


# grass_file: atlas byte (columns | rows << 3), then the file: a u32 count
# and 80-byte blade records (colours, position, atlas column and row, four
# corners, phase).
def grass_record(x, z, column=1, row=0, phase=0.5, bad=None):
    data = struct.pack("<II3fii", 0xFF326400, 0xFF0A1E00, x, 5.0, z, column, row)
    for dx, dy in ((-1, -2), (-1, 2), (1, 2), (1, -2)):
        data += struct.pack("<3f", x + dx, 5.0 + dy, z)
    data += struct.pack("<f", phase)
    if bad is not None:
        data = data[:bad] + struct.pack("<f", float("nan")) + data[bad + 4:]
    return data


ATLAS = bytes([4 | 2 << 3])
write("grass_file", "two_blades", ATLAS + struct.pack("<I", 2) + grass_record(1, 2) + grass_record(-3, 4, 3, 1))
write("grass_file", "truncated", ATLAS + struct.pack("<I", 3) + grass_record(1, 2) + grass_record(5, 6)[:50])
write("grass_file", "huge_count", ATLAS + struct.pack("<I", 0xFFFFFFFF) + grass_record(1, 2, 7, -2))
write("grass_file", "not_finite", ATLAS + struct.pack("<I", 3) + grass_record(1, 2, bad=8) +
      grass_record(3, 4, bad=76) + grass_record(5, 6))
