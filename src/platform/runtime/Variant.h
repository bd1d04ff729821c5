#pragma once
// Variant: the tagged value the components pass where a value may be of
// several kinds (a field read from a result set, a value to format).
// Currency: a fixed-point number held as a count of ten-thousandths.

#include <QString>

#include <cstdint>
#include <variant>

namespace rt {

struct Currency {
    std::int64_t tenThousandths = 0;

    static constexpr std::int64_t kScale = 10000;
    double toDouble() const { return static_cast<double>(tenThousandths) / kScale; }
    friend bool operator==(Currency, Currency) = default;
};

struct Null {
    friend bool operator==(Null, Null) = default;
};
struct Empty {
    friend bool operator==(Empty, Empty) = default;
};

class Variant {
public:
    enum class Kind {
        Empty,
        Null,
        Boolean,
        Integer,
        Long,
        LongLong,
        Single,
        Double,
        Currency,
        Text
    };

    Variant() = default; // Empty
    Variant(Null) : value_(Null{}) {}
    Variant(bool b) : value_(b) {}
    Variant(std::int16_t i) : value_(i) {}
    Variant(std::int32_t i) : value_(i) {}
    Variant(std::int64_t i) : value_(i) {}
    Variant(float f) : value_(f) {}
    Variant(double d) : value_(d) {}
    Variant(Currency c) : value_(c) {}
    Variant(QString s) : value_(std::move(s)) {}
    Variant(const char* s) : value_(QString::fromUtf8(s)) {}

    Kind kind() const { return static_cast<Kind>(value_.index()); }
    bool isNull() const { return kind() == Kind::Null; }
    bool isEmpty() const { return kind() == Kind::Empty; }

    // The stored alternative; the caller checks kind() first.
    template <typename T> const T& as() const { return std::get<T>(value_); }

    friend bool operator==(const Variant&, const Variant&) = default;

private:
    // The order of the alternatives follows Kind.
    std::variant<Empty, Null, bool, std::int16_t, std::int32_t, std::int64_t, float, double,
                 Currency, QString>
        value_;
};

} // namespace rt
