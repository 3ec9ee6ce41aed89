"""Typed use of ventaroxi, checked by mypy --strict and pyright against the installed stubs.

Each line marked with an ignore comment must be an error: both checkers report an ignore
that suppresses nothing (mypy through --strict's warn_unused_ignores, pyright through
reportUnnecessaryTypeIgnoreComment), so a stub that grew too lax fails here. Not run.
"""

from typing import assert_type

import numpy as np
import numpy.typing as npt

import ventaroxi as vx

Array = npt.NDArray[np.float64]

mach: Array = np.linspace(0.1, 3.0, 30)
ga = 1.4

# Every forward relation: array in, array out.
assert_type(vx.To_T_from_Ma(mach, ga), Array)
assert_type(vx.Po_P_from_Ma(mach, ga), Array)
assert_type(vx.rhoo_rho_from_Ma(mach, ga), Array)
assert_type(vx.V_cpTo_from_Ma(mach, ga), Array)
assert_type(vx.mcpTo_APo_from_Ma(mach, ga), Array)
assert_type(vx.mcpTo_AP_from_Ma(mach, ga), Array)
assert_type(vx.A_Acrit_from_Ma(mach, ga), Array)
assert_type(vx.Mash_from_Ma(mach, ga), Array)
assert_type(vx.Posh_Po_from_Ma(mach, ga), Array)

# The inverses, with keywords where the module takes them.
assert_type(vx.Ma_from_Po_P(Po_P=vx.Po_P_from_Ma(mach, ga), ga=ga), Array)
assert_type(vx.Ma_from_To_T(vx.To_T_from_Ma(mach, ga), ga), Array)
assert_type(vx.Ma_from_rhoo_rho(vx.rhoo_rho_from_Ma(mach, ga), ga), Array)
assert_type(vx.Ma_from_V_cpTo(vx.V_cpTo_from_Ma(mach, ga), ga), Array)
assert_type(vx.Ma_from_mcpTo_AP(vx.mcpTo_AP_from_Ma(mach, ga), ga), Array)
assert_type(vx.Ma_from_Mash(vx.Mash_from_Ma(mach, ga), ga), Array)
assert_type(vx.Ma_from_Posh_Po(vx.Posh_Po_from_Ma(mach, ga), ga), Array)

# sup: a bool, or None for the subsonic root; the mass-flow inverse defaults to subsonic.
area = vx.A_Acrit_from_Ma(mach, ga)
assert_type(vx.Ma_from_A_Acrit(area, ga, True), Array)
assert_type(vx.Ma_from_A_Acrit(area, ga, sup=None), Array)
assert_type(vx.Ma_from_F_mcpTo(F_mcpTo=area, ga=ga, sup=False), Array)
assert_type(vx.Ma_from_mcpTo_APo(area, ga), Array)
assert_type(vx.Ma_from_mcpTo_APo(area, ga, True), Array)

# A whole-number ga is a float to the checkers as it is to the module.
assert_type(vx.Mash_from_Ma(mach, 2), Array)

# A result stays a float64 array for the numpy operations that follow.
ratio: npt.NDArray[np.float64] = vx.Po_P_from_Ma(mach, ga) / vx.To_T_from_Ma(mach, ga)

# Errors the stubs must catch.
vx.To_T_from_Ma(0.5, ga)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
vx.To_T_from_Ma(mach, "1.4")  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
vx.Ma_from_A_Acrit(area, ga)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
vx.Ma_from_A_Acrit(area, ga, 1)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
vx.Ma_from_mcpTo_APo(area, ga, None)  # type: ignore[arg-type]  # pyright: ignore[reportArgumentType]
vx.Ma_from_mcpTo_APo(area, ga, sup=True)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
vx.Ma_from_mcpTo_AP(area, ga, False)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
vx.To_T_from_Ma(mach, gamma=ga)  # type: ignore[call-arg]  # pyright: ignore[reportCallIssue]
not_a_float: float = vx.To_T_from_Ma(mach, ga)  # type: ignore[assignment]  # pyright: ignore[reportAssignmentType]
