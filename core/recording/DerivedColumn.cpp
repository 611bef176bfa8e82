#include "core/recording/DerivedColumn.h"

#include <muParser.h>

#include <algorithm>
#include <cmath>

namespace voltaro {

namespace {

bool isNameChar(char c, bool first) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
           (!first && ((c >= '0' && c <= '9') || c == '_'));
}

// A lone "=" is the library's assignment, which would overwrite a meter's
// value; "==", "!=", "<=" and ">=" are comparisons.
bool assigns(const std::string& expression) {
    for (std::size_t i = 0; i < expression.size(); ++i) {
        if (expression[i] != '=')
            continue;
        const char before = i > 0 ? expression[i - 1] : ' ';
        const char after = i + 1 < expression.size() ? expression[i + 1] : ' ';
        if (after == '=') {
            ++i;
            continue;
        }
        if (before != '!' && before != '<' && before != '>')
            return true;
    }
    return false;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& n : names)
        text += (text.empty() ? "" : ", ") + n;
    return text;
}

} // namespace

DerivedColumn::~DerivedColumn() = default;

bool DerivedColumn::validMeterName(const std::string& name) {
    if (name.empty() || name.size() > 32 || !isNameChar(name.front(), true))
        return false;
    if (!std::all_of(name.begin(), name.end(), [](char c) { return isNameChar(c, false); }))
        return false;
    const mu::Parser p;
    return p.GetFunDef().count(name) == 0 && p.GetConst().count(name) == 0;
}

std::unique_ptr<DerivedColumn> DerivedColumn::make(const std::string& definition,
                                                   const std::vector<std::string>& meters,
                                                   std::string* error) {
    const std::size_t eq = definition.find('=');
    if (eq == std::string::npos || eq == 0 || eq + 1 >= definition.size()) {
        *error = "--calc needs NAME=EXPRESSION (for example 'P[W]=V*I'), not \"" + definition + "\"";
        return nullptr;
    }
    std::unique_ptr<DerivedColumn> c(new DerivedColumn);
    c->name_ = definition.substr(0, eq);
    c->expression_ = definition.substr(eq + 1);
    const std::string shown = "--calc " + definition + ": ";
    if (std::any_of(c->name_.begin(), c->name_.end(),
                    [](char ch) { return static_cast<unsigned char>(ch) < 0x20; })) {
        *error = shown + "a column's name cannot hold a tab, a line break or another control character";
        return nullptr;
    }
    if (assigns(c->expression_)) {
        *error = shown + "\"=\" assigns in an expression; compare with \"==\"";
        return nullptr;
    }
    c->slots_.assign(meters.size(), 1.0);
    c->parser_ = std::make_unique<mu::Parser>();
    try {
        for (std::size_t i = 0; i < meters.size(); ++i)
            c->parser_->DefineVar(meters[i], &c->slots_[i]);
        c->parser_->SetExpr(c->expression_);
        // Every name used, known or not: an unknown one is refused by name.
        for (const auto& [used, slot] : c->parser_->GetUsedVar()) {
            const auto known = std::find(meters.begin(), meters.end(), used);
            if (known == meters.end()) {
                *error = shown + used + " is not the name of a meter (the meters are " + joined(meters) + ")";
                return nullptr;
            }
            c->uses_.push_back(static_cast<int>(known - meters.begin()));
        }
        c->parser_->Eval(); // any fault the parse leaves for the first evaluation shows now
    } catch (const mu::Parser::exception_type& e) {
        *error = shown + e.GetMsg();
        return nullptr;
    }
    std::sort(c->uses_.begin(), c->uses_.end());
    return c;
}

std::optional<double> DerivedColumn::evaluate(const std::vector<std::optional<double>>& values) {
    for (const int m : uses_) {
        if (static_cast<std::size_t>(m) >= values.size() || !values[m])
            return std::nullopt;
        slots_[m] = *values[m];
    }
    double result = 0;
    try {
        result = parser_->Eval();
    } catch (const mu::Parser::exception_type&) {
        return std::nullopt;
    }
    if (!std::isfinite(result))
        return std::nullopt;
    return result;
}

} // namespace voltaro
