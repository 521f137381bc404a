#include "preview/shading/shader_declaration.h"

#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

struct Token {
    enum Kind { word, quoted, punctuation, end } kind;
    std::string text;
    int line;
};

// Splits the text into words, quoted names and the punctuation ( ) , with
// '#' comments dropped.
std::vector<Token> tokenize(std::string_view text, const std::string &source)
{
    std::vector<Token> tokens;
    int line = 1;
    std::size_t i = 0;
    while (i < text.size()) {
        const char c = text[i];
        if (c == '\n') {
            ++line;
            ++i;
        } else if (std::isspace(static_cast<unsigned char>(c))) {
            ++i;  // also vertical tabs and form feeds, which end a word too
        } else if (c == '#') {
            while (i < text.size() && text[i] != '\n')
                ++i;
        } else if (c == '(' || c == ')' || c == ',') {
            tokens.push_back({Token::punctuation, std::string(1, c), line});
            ++i;
        } else if (c == '"') {
            const std::size_t close = text.find('"', i + 1);
            if (close == std::string_view::npos || text.substr(i, close - i).find('\n') != std::string_view::npos)
                throw DeclarationError(source + ":" + std::to_string(line) + ": unterminated quoted name");
            tokens.push_back({Token::quoted, std::string(text.substr(i + 1, close - i - 1)), line});
            i = close + 1;
        } else {
            const std::size_t start = i;
            while (i < text.size() && !std::isspace(static_cast<unsigned char>(text[i])) &&
                   text[i] != '(' && text[i] != ')' && text[i] != ',' && text[i] != '"' && text[i] != '#')
                ++i;
            tokens.push_back({Token::word, std::string(text.substr(start, i - start)), line});
        }
    }
    tokens.push_back({Token::end, "end of file", line});
    return tokens;
}

class Parser {
public:
    Parser(std::vector<Token> tokens, const std::string &source)
        : tokens_(std::move(tokens)), source_(source)
    {
    }

    ShaderDeclaration declaration()
    {
        ShaderDeclaration result;
        expect_word("declare");
        expect_word("shader");
        result.result_type = take(Token::word, "the shader's result type").text;
        result.name = take(Token::quoted, "the shader's quoted name").text;
        expect_punctuation("(");
        if (!at_punctuation(")")) {
            do
                add_parameter(result);
            while (accept_punctuation(","));
        }
        expect_punctuation(")");
        while (!at_word("end")) {
            if (accept_word("version")) {
                result.version = static_cast<int>(number(ParameterType::integer, "the version"));
            } else if (accept_word("apply")) {
                do
                    take(Token::word, "a shader type after apply");
                while (accept_punctuation(","));
            } else {
                fail("expected version, apply or end declare, found " + describe(peek()));
            }
        }
        expect_word("end");
        expect_word("declare");
        return result;
    }

private:
    void add_parameter(ShaderDeclaration &result)
    {
        const Token type_token = take(Token::word, "a parameter type");
        const ParameterType type = parameter_type(type_token);
        const Token name = take(Token::quoted, "a quoted parameter name");
        if (result.find(name.text))
            fail_at(name, "parameter \"" + name.text + "\" is declared twice");

        DeclaredParameter parameter{name.text, type, {}, result.record_size};
        if (accept_word("default")) {
            const std::string what = "the default of \"" + name.text + "\"";
            for (std::size_t i = 0; i < value_count(type); ++i) {
                // A colour may leave out its alpha, which is then 1.
                if (type == ParameterType::color && i == 3 && peek().kind != Token::word) {
                    parameter.default_value.push_back(1.0);
                    break;
                }
                parameter.default_value.push_back(number(type, what));
            }
        }
        result.record_size += parameter_size(type);
        result.parameters.push_back(parameter);
    }

    ParameterType parameter_type(const Token &token)
    {
        for (ParameterType type : {ParameterType::boolean, ParameterType::integer,
                                   ParameterType::scalar, ParameterType::color,
                                   ParameterType::vector}) {
            if (token.text == type_name(type))
                return type;
        }
        fail_at(token, "unknown parameter type \"" + token.text +
                           "\" (expected boolean, integer, scalar, color or vector)");
    }

    // One value of a parameter of the type; a double holds every integer and
    // every float exactly.
    double number(ParameterType type, const std::string &what)
    {
        const Token token = take(Token::word, what);
        const std::string &text = token.text;
        if (type == ParameterType::boolean) {
            if (text == "on" || text == "true" || text == "1")
                return 1.0;
            if (text == "off" || text == "false" || text == "0")
                return 0.0;
            fail_at(token, what + " must be on or off, not \"" + text + "\"");
        }
        errno = 0;
        char *rest = nullptr;
        if (type == ParameterType::integer) {
            const long value = std::strtol(text.c_str(), &rest, 10);
            if (*rest != '\0' || errno == ERANGE || value < -2147483647L - 1 || value > 2147483647L)
                fail_at(token, what + " must be a whole number, not \"" + text + "\"");
            return static_cast<double>(value);
        }
        const float value = std::strtof(text.c_str(), &rest);
        if (*rest != '\0' || !std::isfinite(value))
            fail_at(token, what + " must be a number, not \"" + text + "\"");
        return value;
    }

    const Token &peek() const { return tokens_[position_]; }

    Token take(Token::Kind kind, const std::string &what)
    {
        if (peek().kind != kind)
            fail("expected " + what + ", found " + describe(peek()));
        return tokens_[position_++];
    }

    bool at_word(const char *word) const { return peek().kind == Token::word && peek().text == word; }
    bool at_punctuation(const char *mark) const
    {
        return peek().kind == Token::punctuation && peek().text == mark;
    }
    bool accept_word(const char *word) { return at_word(word) && (++position_, true); }
    bool accept_punctuation(const char *mark) { return at_punctuation(mark) && (++position_, true); }

    void expect_word(const char *word)
    {
        if (!accept_word(word))
            fail(std::string("expected ") + word + ", found " + describe(peek()));
    }

    void expect_punctuation(const char *mark)
    {
        if (!accept_punctuation(mark))
            fail(std::string("expected '") + mark + "', found " + describe(peek()));
    }

    static std::string describe(const Token &token)
    {
        switch (token.kind) {
        case Token::quoted:
            return "\"" + token.text + "\"";
        case Token::end:
            return token.text;
        default:
            return "'" + token.text + "'";
        }
    }

    [[noreturn]] void fail(const std::string &message) const { fail_at(peek(), message); }

    [[noreturn]] void fail_at(const Token &token, const std::string &message) const
    {
        throw DeclarationError(source_ + ":" + std::to_string(token.line) + ": " + message);
    }

    std::vector<Token> tokens_;
    std::size_t position_ = 0;
    const std::string &source_;
};

}  // namespace

const DeclaredParameter *ShaderDeclaration::find(std::string_view parameter) const
{
    for (const DeclaredParameter &p : parameters) {
        if (p.name == parameter)
            return &p;
    }
    return nullptr;
}

std::size_t parameter_size(ParameterType type)
{
    return value_count(type) * 4;
}

std::size_t value_count(ParameterType type)
{
    switch (type) {
    case ParameterType::color:
        return 4;
    case ParameterType::vector:
        return 3;
    default:
        return 1;
    }
}

const char *type_name(ParameterType type)
{
    switch (type) {
    case ParameterType::boolean:
        return "boolean";
    case ParameterType::integer:
        return "integer";
    case ParameterType::scalar:
        return "scalar";
    case ParameterType::color:
        return "color";
    case ParameterType::vector:
        return "vector";
    }
    return "?";
}

ShaderDeclaration parse_shader_declaration(std::string_view text, const std::string &source)
{
    ShaderDeclaration declaration = Parser(tokenize(text, source), source).declaration();
    declaration.source = source;
    return declaration;
}

ShaderDeclaration read_shader_declaration(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    if (!file)
        throw DeclarationError(path + ": cannot open the shader declaration");
    std::ostringstream text;
    text << file.rdbuf();
    return parse_shader_declaration(text.str(), path);
}
