"""Typed access to the fields of one control request, with errors that name the
field. Every value a client sends passes through here before it touches a
simulated reader, so a bad request is refused whole and changes nothing."""

from simvocab import SimError, parse_hex

_REQUIRED = object()


class Args:
    def __init__(self, req):
        if not isinstance(req, dict):
            raise SimError("a request must be a JSON object")
        self.req = req

    def has(self, name):
        return name in self.req and self.req[name] is not None

    def _get(self, name, default):
        if name in self.req and self.req[name] is not None:
            return self.req[name]
        if default is _REQUIRED:
            raise SimError("missing field '%s'" % name)
        return default

    def int(self, name, default=_REQUIRED, lo=None, hi=None):
        value = self._get(name, default)
        if value is default and default is not _REQUIRED:
            return value
        if isinstance(value, bool):
            raise SimError("field '%s' must be an integer" % name)
        if isinstance(value, str):
            try:
                value = int(value, 0)
            except ValueError:
                raise SimError("field '%s' must be an integer, not %r" % (name, value))
        if not isinstance(value, int):
            raise SimError("field '%s' must be an integer" % name)
        if (lo is not None and value < lo) or (hi is not None and value > hi):
            raise SimError("field '%s' = %d is outside %s..%s" % (name, value, lo, hi))
        return value

    def num(self, name, default=_REQUIRED, lo=0.0, hi=None):
        value = self._get(name, default)
        if value is default and default is not _REQUIRED:
            return value
        if isinstance(value, bool) or not isinstance(value, (int, float)):
            raise SimError("field '%s' must be a number" % name)
        if value < lo or (hi is not None and value > hi):
            raise SimError("field '%s' = %s is out of range" % (name, value))
        return float(value)

    def bool(self, name, default=_REQUIRED):
        value = self._get(name, default)
        if not isinstance(value, bool):
            raise SimError("field '%s' must be true or false" % name)
        return value

    def str(self, name, default=_REQUIRED, choices=None):
        value = self._get(name, default)
        if value is default and default is not _REQUIRED:
            return value
        if not isinstance(value, str):
            raise SimError("field '%s' must be a string" % name)
        if choices is not None and value not in choices:
            raise SimError("field '%s' must be one of %s, not %r"
                           % (name, ", ".join(choices), value))
        return value

    def list(self, name, default=_REQUIRED):
        value = self._get(name, default)
        if not isinstance(value, list):
            raise SimError("field '%s' must be a list" % name)
        return value

    def hex(self, name, default=_REQUIRED):
        value = self._get(name, default)
        if value is default and default is not _REQUIRED:
            return value
        return parse_hex(value, "field '%s'" % name)

    def latin1(self, name, default=_REQUIRED):
        """A text field as the 8-bit bytes a reader line carries."""
        value = self.str(name, default)
        if value is default and default is not _REQUIRED:
            return value
        try:
            return value.encode("latin-1")
        except UnicodeEncodeError:
            raise SimError("field '%s' has characters above U+00FF; use hex" % name)

    def bytes(self, prefix, default=_REQUIRED):
        """Bytes given as text in the field <prefix> or as hex in <prefix>_hex;
        with an empty prefix the fields are 'text' and 'hex'."""
        text_name = prefix or "text"
        hex_name = prefix + "_hex" if prefix else "hex"
        if self.has(hex_name) and self.has(text_name):
            raise SimError("give either '%s' or '%s', not both" % (text_name, hex_name))
        if self.has(hex_name):
            return self.hex(hex_name)
        if self.has(text_name):
            return self.latin1(text_name)
        if default is _REQUIRED:
            raise SimError("missing field '%s' or '%s'" % (text_name, hex_name))
        return default
