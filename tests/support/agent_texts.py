"""The agent's log texts and method names, read by name out of the C++ headers that declare
them, so that the Python tests and the program share one source.

A name is the header's namespace and the constant: text("DeviceTexts::kOfflineText"). A name
that no header declares, or a literal that this reader does not understand, raises.
"""

import functools
import os
import re

SOURCE_DIR = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".."))
HEADERS = ("devices/DeviceTexts.h", "service/ServiceTexts.h", "service/ConnectionTexts.h",
           "service/SimulationTexts.h", "app/AppTexts.h")

NAMESPACE = re.compile(r"^namespace (\w+) \{$", re.MULTILINE)
# A constant of one string: a char array or pointer, possibly marked for translation, or a
# QString literal; adjacent literals are joined as the compiler joins them.
DECLARATION = re.compile(
    r"^inline (?:constexpr )?(?:const )?(?:char|QString) \*?(k\w+)(?:\[\])?\s*=\s*"
    r"(?:QStringLiteral\(|QT_TRANSLATE_NOOP\(\"\w+\",)?\s*((?:\"(?:[^\"\\\n]|\\.)*\"\s*)+)",
    re.MULTILINE)
LITERAL = re.compile(r"\"((?:[^\"\\\n]|\\.)*)\"")
ESCAPE = re.compile(r"\\(.)")
ESCAPES = {"n": "\n", "r": "\r", "t": "\t", "\\": "\\", "\"": "\"", "'": "'"}
PLACEHOLDER = re.compile(r"%([1-9])")


def _unescaped(literal):
    def replace(match):
        if match.group(1) not in ESCAPES:
            raise ValueError(f"unexpected escape \\{match.group(1)} in {literal!r}")
        return ESCAPES[match.group(1)]
    return ESCAPE.sub(replace, literal)


@functools.lru_cache(maxsize=None)
def _texts():
    texts = {}
    for header in HEADERS:
        with open(os.path.join(SOURCE_DIR, header), encoding="utf-8") as file:
            source = file.read()
        namespaces = NAMESPACE.findall(source)
        if len(namespaces) != 1:
            raise ValueError(f"{header}: expected one namespace, found {namespaces}")
        for match in DECLARATION.finditer(source):
            parts = LITERAL.findall(match.group(2))
            texts[f"{namespaces[0]}::{match.group(1)}"] = "".join(map(_unescaped, parts))
    return texts


def text(name):
    """The text of the constant `name`, as the header spells it."""
    texts = _texts()
    if name not in texts:
        raise KeyError(f"no text {name} in {', '.join(HEADERS)}")
    return texts[name]


def line(name, *arguments):
    """The text of `name` with %1, %2, ... filled in with the arguments, each used once."""
    format_text = text(name)
    numbers = sorted({int(number) for number in PLACEHOLDER.findall(format_text)})
    if numbers != list(range(1, len(arguments) + 1)):
        raise ValueError(f"{name} takes {len(numbers)} arguments, given {len(arguments)}")
    return PLACEHOLDER.sub(lambda match: str(arguments[int(match.group(1)) - 1]), format_text)


def before_arguments(name):
    """The fixed text of `name` before its first argument."""
    return PLACEHOLDER.split(text(name), maxsplit=1)[0]


def after_arguments(name):
    """The fixed text of `name` after its last argument."""
    return PLACEHOLDER.split(text(name))[-1]
