"""vekr.rays against a double-precision brute force on small scenes, the
renderer against vekr-render's own picture, tiles against the whole image."""
import os
import pickle
import subprocess

import numpy as np
import pytest

import vekr.rays as vr


def _scene(n=40, seed=0):
    rng = np.random.default_rng(seed)
    centres = rng.uniform(-1, 1, (n, 3))
    verts = (centres[:, None, :] + rng.normal(scale=0.3, size=(n, 3, 3))).reshape(-1, 3).astype(np.float32)
    tris = np.arange(3 * n).reshape(n, 3)
    return verts, tris


def _brute(verts, tris, origins, dirs):
    """All crossings t > 0 per ray (Moller-Trumbore in double): (t, tri) sorted."""
    v = verts.astype(np.float64)[tris]
    o = np.broadcast_to(origins, dirs.shape).astype(np.float64)
    d = dirs.astype(np.float64)
    e1, e2 = v[:, 0] - v[:, 2], v[:, 1] - v[:, 2]
    p = np.cross(d[:, None, :], e2[None])
    det = np.einsum("tk,rtk->rt", e1, p)
    s = o[:, None, :] - v[None, :, 2]
    with np.errstate(divide="ignore", invalid="ignore"):
        u = np.einsum("rtk,rtk->rt", s, p) / det
        q = np.cross(s, e1[None])
        w = np.einsum("rk,rtk->rt", d, q) / det
        t = np.einsum("tk,rtk->rt", e2, q) / det
    hit = (u >= 0) & (w >= 0) & (u + w <= 1) & (t > 0) & np.isfinite(t)
    return np.where(hit, t, np.inf)


def _rays(n, seed=1):
    rng = np.random.default_rng(seed)
    o = rng.uniform(-3, 3, (n, 3)).astype(np.float32)
    target = rng.uniform(-0.8, 0.8, (n, 3)).astype(np.float32)
    return o, (target - o).astype(np.float32)


def _agree(t, tri, ref):
    """Triangles equal to the brute force wherever the nearest hit is clear
    of the next one (ties may go either way); t close."""
    order = np.sort(ref, axis=1)
    clear = order[:, 1] - order[:, 0] > 1e-4
    best = np.where(np.isfinite(order[:, 0]), np.argmin(ref, axis=1), -1)
    assert np.array_equal(tri[clear], best[clear])
    hits = tri >= 0
    np.testing.assert_allclose(t[hits], ref[hits, tri[hits]], rtol=1e-4)


@pytest.mark.parametrize("tree", ["sah", "simple"])
@pytest.mark.parametrize("grid", [False, True])
def test_intersect_matches_brute_force(tree, grid):
    verts, tris = _scene()
    scene = vr.Scene(verts, tris, tree=tree)
    o, d = _rays(256)
    shape = (16, 16, 3) if grid else (256, 3)  # grid: the packet path
    t, u, v, tri = scene.intersect(o.reshape(shape), d.reshape(shape))
    ref = _brute(verts, tris, o, d)
    assert (tri >= 0).sum() > 50
    _agree(t.ravel(), tri.ravel(), ref)
    # One shared origin: the camera-ray export.
    t1, _, _, tri1 = scene.intersect(o[0], d.reshape(shape))
    _agree(t1.ravel(), tri1.ravel(), _brute(verts, tris, o[0], d))


def test_successive_and_occluded_match_brute_force():
    verts, tris = _scene(60, 2)
    scene = vr.Scene(verts, tris)
    o, d = _rays(64, 3)
    origin = o[0]
    t, _, _, tri = scene.successive(origin, d, 3)
    ref = _brute(verts, tris, origin, d)
    order = np.argsort(ref, axis=1)
    sorted_t = np.take_along_axis(ref, order, axis=1)
    for k in range(3):
        clear = np.all(np.diff(sorted_t[:, :k + 2], axis=1) > 1e-4, axis=1)
        expect = np.where(np.isfinite(sorted_t[:, k]), order[:, k], -1)
        assert np.array_equal(tri[k][clear], expect[clear])
    # Occlusion of the segments from a light to target points.
    light = np.array([0.2, 2.5, 0.1], np.float32)
    targets = (light + d * 0.9).astype(np.float32)
    blocked = scene.occluded(light, targets)
    seg = _brute(verts, tris, light, targets - light)
    near = np.abs(np.min(seg, axis=1) - 1) < 1e-4
    assert np.array_equal(blocked[~near], (np.min(seg, axis=1) < 1)[~near])


def test_refusals():
    verts, tris = _scene(4)
    with pytest.raises(ValueError, match="outside"):
        vr.Scene(verts, tris + 100)
    with pytest.raises(ValueError, match="finite"):
        vr.Scene(np.where(np.arange(verts.size).reshape(verts.shape) == 4, np.nan, verts), tris)
    scene = vr.Scene(verts, tris)
    with pytest.raises(ValueError, match="NaN"):
        scene.intersect(np.zeros(3), np.array([[np.nan, 0, 1]]))


@pytest.fixture(scope="module")
def room():
    return vr.Scene.builtin(3000)


def test_render_equals_vekr_render_program(room, tmp_path):
    program = os.environ.get("VEKR_RENDER_PROGRAM")
    if not program:
        pytest.skip("vekr-render not built")
    Image = pytest.importorskip("PIL.Image")
    png = tmp_path / "room.png"
    subprocess.run([program, "--triangles=3000", "--size=96x64", "-o", str(png)], check=True, capture_output=True)
    ours = room.render((96, 64))
    assert np.array_equal(ours, np.asarray(Image.open(png).convert("RGB")))


def test_window_and_pickled_scene_render_the_same_pixels(room):
    whole, tri = room.render((80, 48), triangles=True)
    assert (tri >= 0).mean() > 0.2
    part = room.render((80, 48), window=(16, 32, 64, 16))
    assert np.array_equal(part, whole[32:48, 16:80])
    copy = pickle.loads(pickle.dumps(room))
    assert np.array_equal(copy.render((80, 48)), whole)
