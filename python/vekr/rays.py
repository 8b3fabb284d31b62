"""Ray casting on triangle meshes through the library's kd-trees.

A :class:`Scene` holds the library's scene records: the bounding box, one
intersection record per triangle, a kd-tree (surface-area heuristic by
default) and the triangle normals. Its methods trace rays given as numpy
arrays whose last axis is ``(x, y, z)``:

- a grid of rays ``(h, w, 3)`` is one ray block of h rows and w columns;
  with h and w multiples of 4 it takes the library's 4-wide packet path,
  the fast one for coherent rays (camera, shadow and reflection rays);
- a flat list ``(N, 3)`` is a block of one row, traced ray by ray, the fast
  path for incoherent rays (random walks, ambient occlusion).

Vertices and rays are converted to float32 (the library's precision);
NaN or infinite ray components are refused, since the traversal assumes
numbers. Distances ``t`` are in units of each direction's own length: the
hit point is ``origin + t * direction``. A hit counts for ``0 < t < tmax``
(ray by ray also ``t < tmax - 1e-5``); both faces count. ``u`` is the
weight of the triangle's first vertex, ``v`` of its second. Misses have
triangle -1, their ``t`` stays ``tmax`` and their u, v are meaningless.
"""
import numpy as np

from . import _vekr

__all__ = ["Scene"]

_NO_LIMIT = np.float32(1e30)


def _floats(a, what, last=3):
    a = np.asarray(a)
    if a.dtype.kind not in "fiu":
        raise TypeError("%s: numbers expected, got %s" % (what, a.dtype))
    a = a.astype(np.float32, copy=False)
    if a.shape[-1:] != (last,):
        raise ValueError("%s: last axis must hold (x, y, z)" % what)
    if not np.isfinite(a).all():
        raise ValueError("%s: NaN or infinite components" % what)
    return a


def _block(lead):
    if len(lead) == 2:
        return int(lead[1]), int(lead[0])  # width, height
    if len(lead) == 1:
        return int(lead[0]), 1
    raise ValueError("rays: expected (N, 3) or (h, w, 3) arrays")


def _planes(a, rows):
    """(rows, n) float32 planes, each 16-byte aligned when n is a multiple
    of 4 (what the packet path asks for)."""
    n = a.shape[0] if a.ndim == 1 else int(np.prod(a.shape[:-1]))
    out = _aligned((rows, n), np.float32)
    out[...] = a.reshape(n, rows).T
    return out


def _aligned(shape, dtype, fill=None):
    dtype = np.dtype(dtype)
    count = int(np.prod(shape))
    raw = np.empty(count * dtype.itemsize + 64, np.uint8)
    offset = (-raw.ctypes.data) % 64
    a = raw[offset:offset + count * dtype.itemsize].view(dtype).reshape(shape)
    if fill is not None:
        a.fill(fill)
    return a


def _limit(tmax, lead):
    t = _aligned((1, int(np.prod(lead))), np.float32)
    t[0] = np.broadcast_to(np.asarray(tmax, np.float32), lead).ravel()
    return t


class Scene:
    """A triangle scene ready for ray casting.

    ``vertices``: ``(V, 3)``; ``triangles``: ``(T, 3)`` vertex numbers (or
    ``(T, 4)``, the fourth ignored), each within ``0 .. V - 1`` (checked:
    the tree build would read out of bounds). ``tree``: ``"sah"``
    (surface-area heuristic) or ``"simple"`` (one leaf). ``colors``,
    ``mirror`` (RGB albedo and mirrored share per triangle) and
    ``vertex_normals`` matter only to :meth:`render`.
    """

    def __init__(self, vertices, triangles, tree="sah", vertex_normals=None, colors=None, mirror=None,
                 max_depth=None, split_factor=0.5, memory_mb=1024):
        v = _floats(vertices, "vertices")
        t = np.asarray(triangles)
        if t.dtype.kind not in "iu":
            raise TypeError("triangles: integer vertex numbers expected, got %s" % t.dtype)
        if t.size and (t.min() < 0 or t.max() >= 2 ** 31):
            raise ValueError("triangles: vertex numbers outside 0 .. %d" % (len(v) - 1))
        opt = [None if a is None else _floats(a, name)
               for name, a in (("vertex_normals", vertex_normals), ("colors", colors), ("mirror", mirror))]
        self._scene = _vekr.Scene(v, t.astype(np.int32), opt[0], opt[1], opt[2], tree,
                                  -1 if max_depth is None else int(max_depth), float(split_factor), int(memory_mb))

    @classmethod
    def _wrap(cls, scene):
        self = cls.__new__(cls)
        self._scene = scene
        return self

    @classmethod
    def from_obj(cls, path, tree="sah", max_depth=None, split_factor=0.5, memory_mb=1024):
        """Loads a Wavefront OBJ file as vekr-render does (polygons split into
        triangles, per-corner normals and material colours used when given)."""
        return cls._wrap(_vekr.Scene.from_obj(str(path), tree, -1 if max_depth is None else int(max_depth),
                                              float(split_factor), int(memory_mb)))

    @classmethod
    def builtin(cls, triangles=100000, tree="sah"):
        """vekr-render's built-in room with about this many triangles."""
        return cls._wrap(_vekr.Scene.builtin(int(triangles), tree))

    def __reduce__(self):
        # Pickled as its arrays; unpickling builds the records and tree again
        # (Dask ships a scene to each worker once).
        s = self._scene
        kind, depth, split, memory = s.tree_settings
        return (_rebuild, (s.vertices, s.triangles, kind, s.vertex_normals, s.colors, s.mirror, depth, split, memory))

    box = property(lambda self: np.array(self._scene.box, np.float32), doc="min x, y, z, max x, y, z")
    vertices = property(lambda self: self._scene.vertices)
    triangles = property(lambda self: self._scene.triangles[:, :3])
    triangle_normals = property(lambda self: self._scene.triangle_normals, doc="unit normal per triangle")
    tree_bytes = property(lambda self: self._scene.tree_bytes)

    def intersect(self, origins, directions, tmax=_NO_LIMIT):
        """Closest hit of every ray. ``origins``: one point ``(3,)`` shared by
        all rays (camera rays) or one per ray. Returns ``(t, u, v,
        triangle)`` shaped like the rays without their last axis."""
        d = _floats(directions, "directions")
        lead = d.shape[:-1]
        width, height = _block(lead)
        dirs = _planes(d, 3)
        t = _limit(tmax, lead)
        uv = _aligned((2, width * height), np.float32, 0)
        tri = _aligned((1, width * height), np.int32)
        o = _floats(origins, "origins")
        if o.shape == (3,):
            self._scene.intersect_eye(tuple(float(c) for c in o), dirs, t, uv, tri, width, height)
        else:
            if o.shape != d.shape:
                raise ValueError("origins: one point, or one per ray")
            self._scene.intersect_mo(_planes(o, 3), dirs, t, uv, tri, width, height)
        return t.reshape(lead), uv[0].reshape(lead), uv[1].reshape(lead), tri.reshape(lead)

    def successive(self, origin, directions, hits, tmax=_NO_LIMIT):
        """Up to ``hits`` triangles along each ray from one origin, nearest
        first: ``(t, u, v, triangle)`` each of shape ``(hits,) + rays``.
        Hit k > 0 is searched from hit k - 1 to the scene's box (``tmax``
        limits only the first); a ray stops at its first search without a
        hit, later entries keep triangle -1."""
        d = _floats(directions, "directions")
        lead = d.shape[:-1]
        width, height = _block(lead)
        n = width * height
        hits = int(hits)
        t = _aligned((max(hits, 1), n), np.float32, 0)
        t[0] = _limit(tmax, lead)[0]
        uv = _aligned((2 * max(hits, 1), n), np.float32, 0)
        tri = _aligned((max(hits, 1), n), np.int32)
        o = _floats(origin, "origin")
        self._scene.intersect_multiple(tuple(float(c) for c in o), _planes(d, 3), t, uv, tri, width, height, hits)
        shape = (hits,) + lead
        return t.reshape(shape), uv[:hits].reshape(shape), uv[hits:].reshape(shape), tri.reshape(shape)

    def occluded(self, light, targets, active=None):
        """Whether anything blocks the open segment from ``light`` to each
        target point: a bool array shaped like the targets without their
        last axis. A triangle crossed exactly at the target does not block.
        ``active``: optional bool mask of the segments to test (others come
        out False)."""
        p = _floats(targets, "targets")
        lead = p.shape[:-1]
        width, height = _block(lead)
        l = _floats(light, "light")
        d = _planes(p - l, 3)  # the library takes light-to-target vectors
        mask = _aligned((1, width * height), np.int32, 0)
        if active is not None:
            mask[0] = np.where(np.broadcast_to(active, lead).ravel(), 0, -1)
        tri = _aligned((1, width * height), np.int32)
        self._scene.intersect_any(tuple(float(c) for c in l), d, tri, mask, width, height)
        blocked = mask[0] < 0
        if active is not None:
            blocked &= np.broadcast_to(active, lead).ravel()
        return blocked.reshape(lead)

    def render(self, size=(512, 512), eye=None, look_at=None, up=(0, 1, 0), fov=40.0, light=None, shadows=True,
               bounces=2, xray=0, window=None, threads=None, triangles=False):
        """Renders the scene as vekr-render does: eye rays, closest hits,
        flat (or, with vertex normals, smooth) shading under a point light
        with hard shadows and ``bounces`` mirror reflections, or an x-ray
        picture counting up to ``xray`` surfaces per ray.

        ``size``: ``(width, height)``. The camera defaults to vekr-render's
        framing of the scene's box (``eye``, ``look_at``, ``up``, vertical
        ``fov`` in degrees), the light to its position above the scene.
        ``window``: ``(x, y, width, height)`` of the image to render alone
        (x and y multiples of 16); its pixels equal those of the whole
        image. Returns an ``(h, w, 3)`` uint8 sRGB array (the pixels of
        vekr-render's PNG), with ``triangles=True`` also the ``(h, w)``
        triangle seen through each pixel (-1: background).
        """
        width, height = (int(s) for s in size)
        rgb, tri = self._scene.render(width, height, eye=eye, look_at=look_at, up=tuple(up), fov=float(fov),
                                      light=light, shadows=bool(shadows), bounces=int(bounces), xray=int(xray),
                                      window=None if window is None else tuple(int(w) for w in window),
                                      threads=0 if threads is None else int(threads))
        return (rgb, tri) if triangles else rgb


def _rebuild(vertices, triangles, tree, vertex_normals, colors, mirror, max_depth, split_factor, memory_mb):
    # Arrays that crossed a process boundary may sit at any byte offset of
    # the message that carried them; the library needs them aligned.
    def aligned(a):
        return None if a is None else np.require(a, requirements=["ALIGNED", "C_CONTIGUOUS"])

    vertices, triangles, vertex_normals, colors, mirror = map(aligned, (vertices, triangles, vertex_normals, colors,
                                                                        mirror))
    return Scene(vertices, triangles, tree, vertex_normals, colors, mirror, max_depth, split_factor, memory_mb)
