// The shader's declaration file, as a host reads it, against the record the
// library reads; the reading of declarations in general; and the record the
// host lays out from one.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <vector>

#include "preview/shading/parameter_record.h"
#include "preview/shading/shader_declaration.h"
#include "shader/umbrex_params.h"

namespace {

struct RecordField {
    const char *name;
    std::size_t offset;
    std::size_t size;
};

#define FIELD(name) {#name, offsetof(Umbrex_params, name), sizeof(Umbrex_params::name)}
const RecordField record_fields[] = {
    FIELD(bright),        FIELD(dark),         FIELD(bent_normals),   FIELD(trace),
    FIELD(environment),   FIELD(ray_type_bypass), FIELD(spread),      FIELD(samples),
    FIELD(falloff_start), FIELD(falloff_stop), FIELD(falloff),        FIELD(bias_direction),
    FIELD(bias)};
#undef FIELD

TEST(ShaderDeclaration, TheShippedDeclarationLaysOutTheLibrarysRecord)
{
    const ShaderDeclaration declaration = read_shader_declaration(UMBREX_DECLARATION);
    EXPECT_EQ(declaration.name, "Umbrex");
    EXPECT_EQ(declaration.result_type, "color");
    EXPECT_EQ(declaration.version, 1);
    EXPECT_EQ(declaration.record_size, sizeof(Umbrex_params));
    ASSERT_EQ(declaration.parameters.size(), std::size(record_fields));
    for (std::size_t i = 0; i < std::size(record_fields); ++i) {
        const DeclaredParameter &declared = declaration.parameters[i];
        EXPECT_EQ(declared.name, record_fields[i].name);
        EXPECT_EQ(declared.offset, record_fields[i].offset) << declared.name;
        EXPECT_EQ(parameter_size(declared.type), record_fields[i].size) << declared.name;
        EXPECT_EQ(declared.default_value.size(), value_count(declared.type)) << declared.name;
    }
}

TEST(ShaderDeclaration, ReadsTypesDefaultsCommentsAndClauses)
{
    // Any white space separates words, vertical tabs and form feeds too.
    const ShaderDeclaration d = parse_shader_declaration("# a comment\n declare\vshader\fcolor" R"( "Probe" (
            color "tint" default 0.5 0.25 1,   # alpha left out
            boolean "flag" default on,
            integer "count" default -2147483648,
            scalar "size" default 1e-3,
            vector "axis",
            boolean "other" default false
        )
        version 3
        apply material, texture
        end declare)",
                                                         "probe.mi");
    EXPECT_EQ(d.name, "Probe");
    EXPECT_EQ(d.version, 3);
    ASSERT_EQ(d.parameters.size(), 6u);
    EXPECT_EQ(d.parameters[0].default_value, (std::vector<double>{0.5, 0.25, 1.0, 1.0}));
    EXPECT_EQ(d.parameters[1].default_value, std::vector<double>{1.0});
    EXPECT_EQ(d.parameters[2].default_value, std::vector<double>{-2147483648.0});
    EXPECT_EQ(d.parameters[3].default_value, std::vector<double>{double(1e-3f)});
    EXPECT_TRUE(d.parameters[4].default_value.empty());
    EXPECT_EQ(d.parameters[5].offset, 16u + 4 + 4 + 4 + 12);
    EXPECT_EQ(d.record_size, 44u);
    EXPECT_EQ(d.find("axis"), &d.parameters[4]);
    EXPECT_EQ(d.find("nothing"), nullptr);
}

// The host's record: values at their declared offsets, an attachment flag
// ghost_offs bytes past its field, and zeros everywhere else for a kilobyte
// past both, so that a library reading more than is declared reads zeros.
TEST(ParameterRecord, FieldsAndFlagsLieAtTheirOffsetsInZeros)
{
    const ShaderDeclaration d = parse_shader_declaration(
        "declare shader color \"s\" (color \"tint\" default 1 2 3 4, integer \"count\", scalar \"size\")\n"
        "version 1 end declare", "s.mi");
    ParameterRecord record(d);
    record.set("count=7");
    record.mark_attached(d.parameters[2]);
    ASSERT_GE(static_cast<std::size_t>(record.ghost_offs()), record.size() + 1024);
    std::vector<std::uint32_t> words((record.ghost_offs() + record.size() + 1024) / 4);
    std::memcpy(words.data(), record.fields(), words.size() * 4);
    EXPECT_EQ(words[0], 0x3f800000u);  // 1.0f
    EXPECT_EQ(words[4], 7u);
    EXPECT_EQ(words[(record.ghost_offs() + 20) / 4], 1u);
    const std::size_t nonzero = std::count_if(words.begin(), words.end(), [](std::uint32_t w) { return w != 0; });
    EXPECT_EQ(nonzero, 4u + 1 + 1);
}

TEST(ShaderDeclaration, FaultsNameTheSourceLineAndWhatIsWrong)
{
    const std::pair<const char *, const char *> faults[] = {
        {"declare shader color \"s\" (\n colour \"c\"\n) end declare",
         "s.mi:2: unknown parameter type \"colour\" (expected boolean, integer, scalar, color or vector)"},
        {"declare shader color \"s\" (\n scalar \"a\",\n scalar \"a\") end declare",
         "s.mi:3: parameter \"a\" is declared twice"},
        {"declare shader color \"s\" (\n integer \"n\" default 1.5) end declare",
         "s.mi:2: the default of \"n\" must be a whole number, not \"1.5\""},
        {"declare shader color \"s\" (\n scalar \"x\" default many) end declare",
         "s.mi:2: the default of \"x\" must be a number, not \"many\""},
        {"declare shader color \"s\" (\n boolean \"b\" default yes) end declare",
         "s.mi:2: the default of \"b\" must be on or off, not \"yes\""},
        {"declare shader color \"s\" (\n vector \"v\" default 1 2) end declare",
         "s.mi:2: expected the default of \"v\", found ')'"},
        {"declare shader color \"s\" (scalar \"x\")\n version 1", "s.mi:2: expected version, apply or end declare, found end of file"},
        {"declare shader color \"s\n (", "s.mi:1: unterminated quoted name"},
        {"", "s.mi:1: expected declare, found end of file"},
    };
    for (const auto &[text, message] : faults) {
        try {
            parse_shader_declaration(text, "s.mi");
            ADD_FAILURE() << "accepted: " << text;
        } catch (const DeclarationError &error) {
            EXPECT_EQ(std::string(error.what()), message);
        }
    }
    EXPECT_THROW(read_shader_declaration("/nonexistent/Umbrex.mi"), DeclarationError);
}

}  // namespace
