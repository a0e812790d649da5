import pytest

from kavet.plot import cage_name


@pytest.mark.parametrize("name,unicode,mathtext", [
    ("5^12-6^2", "5¹²6²", "$5^{12}6^{2}$"),
    ("4^3-5^6-6^3", "4³5⁶6³", "$4^{3}5^{6}6^{3}$"),
    ("occupied_5^12", "occupied 5¹²", "occupied $5^{12}$"),
    ("closed", "closed", "closed"),
])
def test_cage_names_are_typeset(name, unicode, mathtext):
    assert cage_name(name) == unicode and cage_name(name, "mathtext") == mathtext
