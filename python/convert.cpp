#include "python/convert.hpp"

#include <algorithm>
#include <climits>
#include <cstring>

#include "python/errors.hpp"

namespace quarlen::py {

namespace {

// The text between double quotes, with a backslash before every double quote
// and backslash, as the conversion error shows it.
std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out += '"';
    for (const char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    out += '"';
    return out;
}

std::expected<Decimal, std::string> parse_either_form(std::string_view text) {
    std::expected<Decimal, std::string> parsed = Decimal::parse(text);
    if (!parsed && text.find_first_of("eE") != std::string_view::npos) parsed = Decimal::parse_scientific(text);
    return parsed;
}

void raise_value_error(const std::string& message) {
    PyRef text = PyRef::steal(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(PyExc_ValueError, text.get());
}

// A str of ASCII characters. The text form is ASCII, so the str can be
// filled directly instead of decoding UTF-8.
PyObject* ascii_text(const char* text, std::size_t length) {
#ifdef Py_LIMITED_API
    return PyUnicode_FromStringAndSize(text, static_cast<Py_ssize_t>(length));
#else
    PyObject* object = PyUnicode_New(static_cast<Py_ssize_t>(length), 127);
    if (object != nullptr) std::memcpy(PyUnicode_1BYTE_DATA(object), text, length);
    return object;
#endif
}

bool is_numpy_bool_type(PyTypeObject* type) {
    PyRef module = PyRef::steal(PyObject_GetAttrString(reinterpret_cast<PyObject*>(type), "__module__"));
    if (!module) {
        PyErr_Clear();
        return false;
    }
    if (!PyUnicode_Check(module.get()) || PyUnicode_CompareWithASCIIString(module.get(), "numpy") != 0) return false;
    PyRef name = PyRef::steal(PyType_GetName(type));
    if (!name) {
        PyErr_Clear();
        return false;
    }
    return PyUnicode_CompareWithASCIIString(name.get(), "bool_") == 0 ||
           PyUnicode_CompareWithASCIIString(name.get(), "bool") == 0;
}

}  // namespace

std::optional<Decimal> to_decimal(PyObject* value, std::string_view name) {
    // An int's text is its digits, so one that fits 64 bits is that number at
    // scale 0 without building the text. Larger ints, and subclasses (whose
    // str() may say something else), take the text route below.
    if (PyLong_CheckExact(value)) {
        int overflow = 0;
        const long long integer = PyLong_AsLongLongAndOverflow(value, &overflow);
        if (integer == -1 && PyErr_Occurred()) return std::nullopt;
        if (overflow == 0) return Decimal::from_int(integer);
    }
    // A str is its own text; anything else (a decimal.Decimal included: its
    // str() is the cheapest public way to read its digits) is asked for it.
    PyRef text_object = PyUnicode_CheckExact(value) ? PyRef::borrow(value) : PyRef::steal(PyObject_Str(value));
    if (!text_object) return std::nullopt;

    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text_object.get(), &length);
    std::string fallback;
    if (utf8 == nullptr) {
        // Text that cannot be UTF-8 (lone surrogates) is not a number either;
        // report it like any other bad text, escaped.
        PyErr_Clear();
        PyRef bytes = PyRef::steal(PyUnicode_AsEncodedString(text_object.get(), "utf-8", "backslashreplace"));
        if (!bytes) return std::nullopt;
        fallback.assign(PyBytes_AS_STRING(bytes.get()), static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
        utf8 = fallback.data();
        length = static_cast<Py_ssize_t>(fallback.size());
    }
    const std::string_view text(utf8, static_cast<std::size_t>(length));

    // The escaped fallback text holds a backslash, so it never parses.
    const std::expected<Decimal, std::string> parsed = parse_either_form(text);
    if (parsed) return *parsed;

    const std::string& reason = parsed.error();
    std::string message = "invalid ";
    message += name;
    message += ' ';
    message += quoted(text);
    message += ": ";
    message += reason;
    raise_value_error(message);
    return std::nullopt;
}

std::optional<SizingConstraints> to_constraints(PyObject* fixed_cost, PyObject* max_size) {
    SizingConstraints constraints;
    if (fixed_cost != nullptr && fixed_cost != Py_None) {
        const std::optional<Decimal> value = to_decimal(fixed_cost, "fixed_cost");
        if (!value) return std::nullopt;
        constraints.fixed_cost = *value;
    }
    if (max_size != nullptr && max_size != Py_None) {
        constraints.max_size = to_decimal(max_size, "max_size");
        if (!constraints.max_size) return std::nullopt;
    }
    return constraints;
}

PyObject* from_decimal(const ModuleState& state, Decimal value) {
    // decimal.Decimal parses text faster than it takes any other public route
    // (a digit tuple, or an int rescaled with scaleb, cost more for the
    // 28-digit values most results are), except for a whole number that fits
    // 64 bits: Decimal(int) gives the same coefficient at exponent 0, quicker.
    if (value.scale() == 0 && value.magnitude() <= static_cast<uint128>(INT64_MAX)) {
        const auto magnitude = static_cast<long long>(value.magnitude());
        PyRef integer = PyRef::steal(PyLong_FromLongLong(value.is_negative() ? -magnitude : magnitude));
        if (!integer) return nullptr;
        return PyObject_CallOneArg(state.decimal_class, integer.get());
    }
    char text[Decimal::kMaxTextLength];
    const std::size_t length = value.format_to(text);
    PyRef text_object = PyRef::steal(ascii_text(text, length));
    if (!text_object) return nullptr;
    return PyObject_CallOneArg(state.decimal_class, text_object.get());
}

std::optional<std::vector<PyRef>> to_items(PyObject* value) {
    if (PyUnicode_Check(value)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return std::nullopt;
    }
    if (!PySequence_Check(value)) {
        PyRef abc = PyRef::steal(PyImport_ImportModule("collections.abc"));
        PyRef sequence_class = abc ? PyRef::steal(PyObject_GetAttrString(abc.get(), "Sequence")) : PyRef();
        if (!sequence_class) return std::nullopt;
        const int is_sequence = PyObject_IsInstance(value, sequence_class.get());
        if (is_sequence < 0) return std::nullopt;
        if (is_sequence == 0) {
            raise_type_mismatch(value, "Sequence");
            return std::nullopt;
        }
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(value));
    if (!iterator) return std::nullopt;
    std::vector<PyRef> items;
    const Py_ssize_t hint = PyObject_LengthHint(value, 0);
    if (hint < 0) return std::nullopt;
    // The length is only a hint: a sequence may claim far more items than it
    // yields (len() of 2**62), and reserving that would fail as an internal
    // fault. Reserve a bounded amount; the vector grows past it as needed.
    constexpr Py_ssize_t kMostReserved = 4096;
    items.reserve(static_cast<std::size_t>(std::min(hint, kMostReserved)));
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) items.push_back(std::move(item));
    if (PyErr_Occurred()) return std::nullopt;
    return items;
}

std::optional<std::uint64_t> to_index(PyObject* value) {
    PyRef integer = PyRef::steal(PyNumber_Index(value));
    if (!integer) return std::nullopt;
    const unsigned long long result = PyLong_AsUnsignedLongLong(integer.get());
    if (result == static_cast<unsigned long long>(-1) && PyErr_Occurred()) return std::nullopt;
    return static_cast<std::uint64_t>(result);
}

std::optional<std::int32_t> to_int32(PyObject* value) {
    PyRef integer = PyRef::steal(PyNumber_Index(value));
    if (!integer) return std::nullopt;
    const long long result = PyLong_AsLongLong(integer.get());
    if (result == -1 && PyErr_Occurred()) return std::nullopt;
    if (result > INT32_MAX) {
        PyErr_SetString(PyExc_OverflowError, "signed integer is greater than maximum");
        return std::nullopt;
    }
    if (result < INT32_MIN) {
        PyErr_SetString(PyExc_OverflowError, "signed integer is less than minimum");
        return std::nullopt;
    }
    return static_cast<std::int32_t>(result);
}

std::optional<bool> to_flag(PyObject* value) {
    if (PyBool_Check(value)) return value == Py_True;
    PyTypeObject* type = Py_TYPE(value);
    if (is_numpy_bool_type(type)) {
        if (PyType_GetSlot(type, Py_nb_bool) == nullptr) {
            PyRef name = PyRef::steal(PyType_GetName(type));
            if (name) PyErr_Format(PyExc_TypeError, "object of type '%U' does not define a '__bool__' conversion", name.get());
            return std::nullopt;
        }
        const int truth = PyObject_IsTrue(value);
        if (truth < 0) return std::nullopt;
        return truth == 1;
    }
    raise_type_mismatch(value, "bool");
    return std::nullopt;
}

PyRef item_of(PyObject* mapping, const char* key) {
    PyRef key_object = PyRef::steal(PyUnicode_FromString(key));
    if (!key_object) return PyRef();
    return PyRef::steal(PyObject_GetItem(mapping, key_object.get()));
}

std::optional<std::string> to_text(PyObject* value) {
    if (!PyUnicode_Check(value)) {
        raise_type_mismatch(value, "str");
        return std::nullopt;
    }
    Py_ssize_t length = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(value, &length);
    if (utf8 == nullptr) return std::nullopt;
    return std::string(utf8, static_cast<std::size_t>(length));
}

}  // namespace quarlen::py
