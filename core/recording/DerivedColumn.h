#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace mu {
class Parser;
}

namespace voltaro {

// A column worked out from several meters' readings, "NAME=EXPRESSION": the
// expression is arithmetic with parentheses and the expression library's
// functions (sqrt, abs, min, max, ...) over the meters' names, each standing
// for that meter's value in SI units (volts, amperes, ohms, ...).
//
// A value is given only when every meter the expression names has a usable
// reading and the result is a finite number: a missing, stale or overloaded
// reading, a division by zero or a square root of a negative number leave
// the column empty, never a wrong number.
class DerivedColumn {
public:
    ~DerivedColumn();
    DerivedColumn(const DerivedColumn&) = delete;
    DerivedColumn& operator=(const DerivedColumn&) = delete;

    // The column `definition` asks for over the meters named `meters`; nothing,
    // with `error` set to one line saying why, when the definition has no name or
    // no expression, the expression does not parse, assigns, or uses a name
    // that is no meter's.
    static std::unique_ptr<DerivedColumn> make(const std::string& definition,
                                               const std::vector<std::string>& meters, std::string* error);

    // Whether `name` can stand for a meter in an expression: a letter, then
    // letters, digits and underscores, and not one of the library's functions.
    static bool validMeterName(const std::string& name);

    const std::string& name() const { return name_; }
    const std::string& expression() const { return expression_; }
    // The indices of the meters the expression uses.
    const std::vector<int>& uses() const { return uses_; }

    // The value for the meters' values (SI, one per meter, none where a meter
    // has no usable reading).
    std::optional<double> evaluate(const std::vector<std::optional<double>>& values);

private:
    DerivedColumn() = default;

    std::string name_;
    std::string expression_;
    std::vector<int> uses_;
    // One slot per meter: the parser reads the values from here.
    std::vector<double> slots_;
    std::unique_ptr<mu::Parser> parser_;
};

} // namespace voltaro
