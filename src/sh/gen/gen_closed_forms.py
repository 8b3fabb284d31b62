#!/usr/bin/env python3
"""Writes sh_basis_closed_forms.cpp: the real spherical harmonics of bands
0 .. 15 as closed-form polynomials for the direct evaluation kind.

Each basis function is written as

    Y(l, m) = C * P(z) * T(x, y)

with P a primitive integer polynomial in z of degree l - |m| (the |m|-th
derivative of the Legendre polynomial, of the parity of l - |m|, evaluated
by Horner's rule in z^2 with the odd factor z kept outside), T the primitive
integer polynomial Re (m > 0) or Im (m < 0) of (x + iy)^|m| (1 for m = 0),
and C one double-precision constant that folds in the orthonormalisation
factor, the Condon-Shortley sign (-1)^|m|, sqrt(2) for m != 0 and the
contents taken out of P and T. The constants are derived exactly and rounded
once to the nearest double.

Usage: gen_closed_forms.py OUTPUT.cpp
The build runs this into its own tree and compares the result with the
committed source, so the two cannot drift apart.
"""

import sys
from fractions import Fraction
from functools import lru_cache
from math import comb, gcd

import sympy

MAX_BAND = 15


def nearest_double(expr):
    """The double nearest to an exact sympy expression."""
    # 40 significant digits decide the rounding of a 17-digit double;
    # Python's float() of a decimal string rounds correctly.
    return float(str(sympy.N(expr, 40)))


def primitive(coeffs, lead_last=False):
    """Splits rational coefficients into (content, integer coefficients) so
    that the integers have no common factor and the leading one (the first
    non-zero, or the last with lead_last) is positive."""
    coeffs = [Fraction(c) for c in coeffs]
    den = 1
    for c in coeffs:
        den = den * c.denominator // gcd(den, c.denominator)
    ints = [int(c * den) for c in coeffs]
    g = 0
    for v in ints:
        g = gcd(g, abs(v))
    ordered = reversed(ints) if lead_last else ints
    lead = next(v for v in ordered if v != 0)
    if lead < 0:
        g = -g
    return Fraction(g, den), [v // g for v in ints]


@lru_cache(maxsize=None)
def legendre_part(l, m):
    """Content and primitive integer coefficients (index = power of z) of
    the |m|-th derivative of the Legendre polynomial P_l."""
    z = sympy.Symbol("z")
    poly = sympy.Poly(sympy.diff(sympy.legendre(l, z), z, m), z)
    degree = l - m
    coeffs = [Fraction(0)] * (degree + 1)
    for (power,), c in poly.terms():
        coeffs[power] = Fraction(int(sympy.numer(c)), int(sympy.denom(c)))
    return primitive(coeffs, lead_last=True)


@lru_cache(maxsize=None)
def trig_part(m, imaginary):
    """Content and terms (coefficient, power of x, power of y) of Re or Im of
    (x + iy)^m, with the powers of x decreasing."""
    terms = []
    for k in range(m + 1):
        if (k % 2 == 1) != imaginary:
            continue
        sign = -1 if (k // 2) % 2 else 1
        terms.append((sign * comb(m, k), m - k, k))
    content, ints = primitive([c for c, _, _ in terms])
    return content, [(c, a, b) for c, (_, a, b) in zip(ints, terms)]


def constant(l, m):
    """Exact constant C of Y(l, m) (see the module text)."""
    am = abs(m)
    norm = sympy.sqrt(sympy.Rational(2 * l + 1) * sympy.factorial(l - am)
                      / sympy.factorial(l + am) / (4 * sympy.pi))
    if am:
        norm *= sympy.sqrt(2) * (-1) ** am
    p_content, _ = legendre_part(l, am)
    value = norm * sympy.Rational(p_content.numerator, p_content.denominator)
    if am:
        t_content, _ = trig_part(am, m < 0)
        value *= sympy.Rational(t_content.numerator, t_content.denominator)
    return value


def fmt_int(v):
    return f"{v}.0"


def horner_z(coeffs):
    """C++ expression of an integer polynomial in z of one parity: Horner's
    rule in z2 = z^2, with the factor z outside for odd degrees."""
    degree = len(coeffs) - 1
    odd = degree % 2
    even_coeffs = [coeffs[k] for k in range(odd, degree + 1, 2)]
    parts = list(reversed(even_coeffs))
    if len(parts) == 1:
        inner = fmt_int(parts[0])
    else:
        inner = "z2" if parts[0] == 1 else f"{fmt_int(parts[0])} * z2"
        for i, c in enumerate(parts[1:], start=1):
            op = "-" if c < 0 else "+"
            inner = f"{inner} {op} {fmt_int(abs(c))}"
            if i < len(parts) - 1:
                inner = f"({inner}) * z2"
    if odd:
        return "z" if inner == "1.0" else f"z * ({inner})"
    return inner


def power(name, k):
    return name if k == 1 else f"{name}{k}"


def trig_expr(terms):
    out = ""
    for c, a, b in terms:
        factors = [power("x", a)] if a else []
        if b:
            factors.append(power("y", b))
        prod = " * ".join(factors)
        if len(factors) > 1 and abs(c) != 1:
            prod = f"({prod})"
        body = prod if abs(c) == 1 else f"{fmt_int(abs(c))} * {prod}"
        if not out:
            out = body if c > 0 else f"-{body}"
        else:
            out += f" {'-' if c < 0 else '+'} {body}"
    return out


def emit():
    lines = []
    w = lines.append
    w("// Generated by src/sh/gen/gen_closed_forms.py; do not edit. The build")
    w("// regenerates it and fails its tests if the two differ.")
    w("//")
    w("// Y(l, m) = C * P(z) * T(x, y): C folds the orthonormalisation factor,")
    w("// the sign (-1)^|m|, sqrt(2) for m != 0 and the contents of P and T;")
    w("// P is the primitive integer polynomial of degree l - |m| in z (Horner")
    w("// in z^2), T is Re (m > 0) or Im (m < 0) of (x + iy)^|m| made primitive.")
    w("// Everything is double precision; each value is rounded once to float.")
    w("")
    w('#include "sh/sh_basis_direct.h"')
    w("")
    w("namespace vekr {")
    w("")
    w("void fillDirectPowers(double x, double y, double z, uint32_t order, DirectPowers& p)")
    w("{")
    w("    p.z = z;")
    w("    p.z2 = z * z;")
    w("    if (order == 0) return;")
    w("    p.re[1] = x;")
    w("    p.im[1] = y;")
    w("    if (order == 1) return;")
    for m in range(2, MAX_BAND + 1):
        # Powers are formed as the bands need them, so a low order pays
        # only for its own.
        w(f"    const double x{m} = {power('x', m - 1)} * x, y{m} = {power('y', m - 1)} * y;")
        _, re_terms = trig_part(m, False)
        _, im_terms = trig_part(m, True)
        w(f"    p.re[{m}] = {trig_expr(re_terms)};")
        w(f"    p.im[{m}] = {trig_expr(im_terms)};")
        if m < MAX_BAND:
            w(f"    if (order == {m}) return;")
    w("}")
    w("")
    w("namespace {")
    for l in range(MAX_BAND + 1):
        w("")
        param = "const DirectPowers& p" if l else "const DirectPowers& /*p*/"
        w(f"void directBand{l}({param}, float* out)")
        w("{")
        uses_z = any(l - abs(m) >= 1 for m in range(-l, l + 1))
        uses_z2 = any(l - abs(m) >= 2 for m in range(-l, l + 1))
        if uses_z:
            w("    const double z = p.z;")
        if uses_z2:
            w("    const double z2 = p.z2;")
        for m in range(-l, l + 1):
            am = abs(m)
            c = repr(nearest_double(constant(l, m)))
            _, pcoeffs = legendre_part(l, am)
            pz = horner_z(pcoeffs)
            t = None if m == 0 else (f"p.re[{am}]" if m > 0 else f"p.im[{am}]")
            if t is None:
                expr = c if pz == "1.0" else (f"{c} * z" if pz == "z" else f"{c} * ({pz})")
            elif pz == "1.0":
                expr = f"{c} * {t}"
            else:
                factor = pz if pz == "z" else f"({pz})"
                expr = f"{c} * ({factor} * {t})"
            w(f"    out[{l + m}] = static_cast<float>({expr});")
        w("}")
    w("")
    w("}  // namespace")
    w("")
    w("const DirectBandFn kDirectBands[kMaxBand + 1] = {")
    for l in range(MAX_BAND + 1):
        w(f"    directBand{l},")
    w("};")
    w("")
    w("}  // namespace vekr")
    return "\n".join(lines) + "\n"


def main(argv):
    if len(argv) != 2:
        sys.stderr.write(__doc__)
        return 2
    text = emit()
    with open(argv[1], "w", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
