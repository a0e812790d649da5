from kavet.plot import cage_name


def test_cage_names_are_typeset():
    assert [cage_name("4^3-5^6-6^3"), cage_name("occupied_5^12-6^2", "mathtext"), cage_name("closed")] == \
        ["4³5⁶6³", "occupied $5^{12}6^{2}$", "closed"]
