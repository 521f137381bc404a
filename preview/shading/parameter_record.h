// The shader's parameter record as the host builds it: laid out from the
// declaration, filled with its defaults, then with the user's values; followed
// by the attachment flags the shader finds ghost_offs bytes beyond each field.
// Both parts run on in zeros well past their declared end, so that a library
// that reads more than its declaration lays out finds zeros, never memory
// outside the record.
#ifndef UMBREX_PREVIEW_PARAMETER_RECORD_H
#define UMBREX_PREVIEW_PARAMETER_RECORD_H

#include <cstdint>
#include <string>
#include <vector>

#include "preview/shading/shader_declaration.h"

class ParameterRecord {
public:
    explicit ParameterRecord(const ShaderDeclaration &declaration);

    // Applies "name=value", the value written as the parameter's type asks:
    // on/off for a boolean, a whole number, a number, r,g,b[,a] or x,y,z.
    // Throws std::invalid_argument naming the fault.
    void set(const std::string &assignment);

    // The declared parameter of that name; throws std::invalid_argument with
    // the closest declared name when there is none.
    const DeclaredParameter &parameter(const std::string &name) const;

    // The parameter's current value, one float per component.
    std::vector<float> value(const DeclaredParameter &parameter) const;

    void mark_attached(const DeclaredParameter &parameter);

    void *fields() { return words_.data(); }
    const void *fields() const { return words_.data(); }
    std::size_t size() const { return declaration_.record_size; }
    int ghost_offs() const { return ghost_offs_; }

private:
    void write(const DeclaredParameter &parameter, const std::vector<double> &values);

    const ShaderDeclaration &declaration_;
    int ghost_offs_;
    std::vector<std::uint32_t> words_;
};

#endif
