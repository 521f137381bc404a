// The shader's declaration as the host reads it: the parameters' names, types
// and defaults, in the order that gives the parameter record its layout.
#ifndef UMBREX_PREVIEW_SHADER_DECLARATION_H
#define UMBREX_PREVIEW_SHADER_DECLARATION_H

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

enum class ParameterType { boolean, integer, scalar, color, vector };

struct DeclaredParameter {
    std::string name;
    ParameterType type;
    std::vector<double> default_value;  // empty when the declaration gives none
    std::size_t offset;                // in the parameter record
};

struct ShaderDeclaration {
    std::string source;  // the file or text it was read from
    std::string result_type;
    std::string name;
    int version = 0;
    std::vector<DeclaredParameter> parameters;
    std::size_t record_size = 0;

    // The parameter of that name, or null.
    const DeclaredParameter *find(std::string_view parameter) const;
};

// A declaration that cannot be read; what() names the source, line and fault.
struct DeclarationError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Bytes a parameter of the type takes in the record: colours 16, vectors 12,
// the rest 4.
std::size_t parameter_size(ParameterType type);

// Number of values a parameter of the type holds.
std::size_t value_count(ParameterType type);

const char *type_name(ParameterType type);

// Parses one `declare shader ... end declare` block; `source` names the text
// in error messages.
ShaderDeclaration parse_shader_declaration(std::string_view text, const std::string &source);

ShaderDeclaration read_shader_declaration(const std::string &path);

#endif
