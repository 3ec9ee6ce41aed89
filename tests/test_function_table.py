"""The nineteen functions as the interpreter sees them: order, signatures, and how `sup`
reaches the three relations that take it."""

import inspect
import re

import numpy as np
import pytest

import ventaroxi as vx

from functions import FUNCTIONS, NAMES, WITH_SUP

# One target per function with a root on each branch (ga = 1.4): the branches must differ.
BRANCH_TARGETS = {"Ma_from_F_mcpTo": 1.1, "Ma_from_mcpTo_APo": 1.0, "Ma_from_A_Acrit": 2.0}

X = np.array([0.5])


def test_all_lists_the_nineteen_in_table_order():
    # The tests' table of functions (tests/functions.py) has a row for each, in this order.
    assert vx.__all__ == NAMES
    assert len(NAMES) == 19 and NAMES[0] == "To_T_from_Ma" and NAMES[-1] == "Ma_from_Posh_Po"
    for name in NAMES:
        assert getattr(vx, name).__name__ == name


@pytest.mark.parametrize("name", NAMES)
def test_signature_matches_text_signature(name):
    """The docstring is the text signature alone, so nothing is left of it as __doc__."""
    function, row = getattr(vx, name), FUNCTIONS[name]
    assert function.__text_signature__ == row.text_signature
    assert str(inspect.signature(function)) == row.text_signature
    assert function.__doc__ is None
    parameters = inspect.signature(function).parameters.values()
    assert tuple(p.name for p in parameters) == row.parameters
    assert sum(p.default is inspect.Parameter.empty for p in parameters) == row.required
    assert (
        sum(p.kind is inspect.Parameter.POSITIONAL_ONLY for p in parameters) == row.positional_only
    )


@pytest.mark.parametrize("name", NAMES)
def test_rank_and_inputs_are_as_the_table_says(name):
    row = FUNCTIONS[name]
    inputs = np.linspace(*row.inputs, 12)
    for sup in (False, True):  # the span lies inside the domain, on both branches
        assert np.isfinite(row(inputs, 1.4, sup)).all()
    if row.one_dimensional:
        with pytest.raises(TypeError, match="cannot be converted to 'PyArray<T, D>'"):
            row(inputs.reshape(3, 4), 1.4)
    else:
        assert row(inputs.reshape(3, 4), 1.4).shape == (3, 4)


def test_only_the_mass_flow_inverse_is_positional_only_with_a_default():
    for name in NAMES:
        parameters = list(inspect.signature(getattr(vx, name)).parameters.values())
        if name == "Ma_from_mcpTo_APo":
            assert [p.kind for p in parameters] == [inspect.Parameter.POSITIONAL_ONLY] * 3
            assert parameters[2].default is False
        else:
            assert all(p.kind is inspect.Parameter.POSITIONAL_OR_KEYWORD for p in parameters)
            assert all(p.default is inspect.Parameter.empty for p in parameters)
        assert [p.name for p in parameters][1:2] == ["ga"]
        assert [p.name for p in parameters][2:] == (["sup"] if name in WITH_SUP else [])


@pytest.mark.parametrize("name", WITH_SUP)
def test_sup_selects_the_branch(name):
    function = getattr(vx, name)
    t = np.array([BRANCH_TARGETS[name]])
    subsonic = function(t, 1.4, False)[0]
    supersonic = function(t, 1.4, True)[0]
    assert subsonic < 1 < supersonic
    assert function(t, 1.4, np.True_)[0] == supersonic
    assert function(t, 1.4, np.False_)[0] == subsonic
    assert function(t, 1.4, np.bool_(True))[0] == supersonic


@pytest.mark.parametrize("name", ["Ma_from_F_mcpTo", "Ma_from_A_Acrit"])
def test_none_selects_the_subsonic_branch(name):
    function = getattr(vx, name)
    t = np.array([BRANCH_TARGETS[name]])
    assert function(t, 1.4, None)[0] == function(t, 1.4, False)[0]
    assert function(t, 1.4, sup=None)[0] == function(t, 1.4, False)[0]
    assert function(t, 1.4, sup=True)[0] == function(t, 1.4, True)[0]


def test_mass_flow_inverse_defaults_to_subsonic_and_refuses_none():
    t = np.array([1.0])
    assert vx.Ma_from_mcpTo_APo(t, 1.4)[0] == vx.Ma_from_mcpTo_APo(t, 1.4, False)[0]
    with pytest.raises(
        TypeError,
        match=re.escape("argument 'sup': 'NoneType' object cannot be converted to 'PyBool'"),
    ):
        vx.Ma_from_mcpTo_APo(t, 1.4, None)


@pytest.mark.parametrize("name", WITH_SUP)
@pytest.mark.parametrize(
    "sup, type_name",
    [(1, "int"), (0, "int"), (1.0, "float"), ("yes", "str"), (np.int64(1), "int64")],
)
def test_sup_must_be_a_boolean(name, sup, type_name):
    with pytest.raises(TypeError) as raised:
        getattr(vx, name)(X, 1.4, sup)
    assert (
        str(raised.value) == f"argument 'sup': '{type_name}' object cannot be converted to 'PyBool'"
    )


@pytest.mark.parametrize(
    "call, message",
    [
        (
            lambda: vx.Ma_from_mcpTo_APo(mcpTo_APo=X, ga=1.4),
            "Ma_from_mcpTo_APo() got some positional-only arguments passed as keyword arguments: "
            "'mcpTo_APo' and 'ga'",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(X, 1.4, sup=True),
            "Ma_from_mcpTo_APo() got some positional-only arguments passed as keyword arguments: 'sup'",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(X, ga=1.4, sup=True),
            "Ma_from_mcpTo_APo() got some positional-only arguments passed as keyword arguments: "
            "'ga' and 'sup'",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(X, 1.4, sup=True, gamma=1.4),
            "Ma_from_mcpTo_APo() got an unexpected keyword argument 'gamma'",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(X, 1.4, True, 1),
            "Ma_from_mcpTo_APo() takes from 2 to 3 positional arguments but 4 were given",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(X),
            "Ma_from_mcpTo_APo() missing 1 required positional argument: 'ga'",
        ),
        (
            lambda: vx.Ma_from_mcpTo_APo(),
            "Ma_from_mcpTo_APo() missing 2 required positional arguments: 'mcpTo_APo' and 'ga'",
        ),
        (
            lambda: vx.Ma_from_A_Acrit(X, 1.4),
            "Ma_from_A_Acrit() missing 1 required positional argument: 'sup'",
        ),
        (
            lambda: vx.Ma_from_F_mcpTo(),
            "Ma_from_F_mcpTo() missing 3 required positional arguments: 'F_mcpTo', 'ga', and 'sup'",
        ),
        (
            lambda: vx.Ma_from_A_Acrit([1], "a", 1),
            "argument 'A_Acrit': 'list' object cannot be converted to 'PyArray<T, D>'",
        ),
        (
            lambda: vx.Ma_from_Posh_Po(X, 1.4, True),
            "Ma_from_Posh_Po() takes 2 positional arguments but 3 were given",
        ),
        (
            lambda: vx.Ma_from_Mash(Mash=X, ga=1.4, sup=True),
            "Ma_from_Mash() got an unexpected keyword argument 'sup'",
        ),
    ],
)
def test_argument_errors(call, message):
    with pytest.raises(TypeError) as raised:
        call()
    assert str(raised.value) == message


@pytest.mark.parametrize("name", [n for n in NAMES if n != "Ma_from_mcpTo_APo"])
def test_keywords_are_accepted(name):
    function = getattr(vx, name)
    parameters = list(inspect.signature(function).parameters)
    values = [np.array([0.9, 2.0]), 1.4, True][: len(parameters)]
    by_position = function(*values)
    by_keyword = function(**dict(zip(parameters, values, strict=True)))
    assert by_position.tobytes() == by_keyword.tobytes()
