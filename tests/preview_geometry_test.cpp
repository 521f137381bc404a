// The preview host's geometry in-process: polygons split into triangles,
// scene files' node hierarchies flattened, the normals handed to the
// shader, and UV layouts rasterised and padded for a bake, against
// hand-worked values.

#include <assimp/commonMetaData.h>
#include <assimp/scene.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <random>

#include "preview/bake/texel_padding.h"
#include "preview/bake/uv_layout.h"
#include "preview/scene/polygon_triangulation.h"
#include "preview/scene/ray_tracer.h"
#include "preview/scene/scene_framing.h"
#include "preview/scene/scene_import.h"
#include "preview/shading/surface_normals.h"

namespace {

double area(const std::vector<DVec3> &corners, const std::vector<CornerTriangle> &triangles)
{
    double sum = 0.0;
    for (const CornerTriangle &t : triangles)
        sum += 0.5 * length(cross(corners[t[1]] - corners[t[0]], corners[t[2]] - corners[t[0]]));
    return sum;
}

TEST(PolygonTriangulation, PolygonsKeepTheirShape)
{
    // An L of area 3 whose reflex corner a fan from the first corner would
    // cut across.
    const std::vector<DVec3> l_shape = {{1, 1, 0}, {1, 2, 0}, {0, 2, 0}, {0, 0, 0}, {2, 0, 0}, {2, 1, 0}};
    const auto l_triangles = triangulate_polygon(l_shape);
    EXPECT_EQ(l_triangles.size(), 4u);
    EXPECT_DOUBLE_EQ(area(l_shape, l_triangles), 3.0);
    // A dart of area 6 whose first corner's triangle holds its reflex corner.
    const std::vector<DVec3> dart = {{4, 2, 0}, {0, 4, 0}, {1, 2, 0}, {0, 0, 0}};
    EXPECT_DOUBLE_EQ(area(dart, triangulate_polygon(dart)), 6.0);

    // A unit square ring with a hole of side 0.5, written as one face with a
    // doubled bridge edge: area 0.75, the hole left open.
    const std::vector<DVec3> ring = {{0, 0, 0},       {1, 0, 0},       {1, 1, 0},       {0, 1, 0},
                                     {0, 0, 0},       {0.25, 0.25, 0}, {0.25, 0.75, 0}, {0.75, 0.75, 0},
                                     {0.75, 0.25, 0}, {0.25, 0.25, 0}};
    EXPECT_DOUBLE_EQ(area(ring, triangulate_polygon(ring)), 0.75);

    // A corner in the middle of an edge, in the plane x = 2, wound either way.
    const std::vector<DVec3> square = {{2, 0, 0}, {2, 1, 0}, {2, 2, 0}, {2, 2, 2}, {2, 0, 2}};
    EXPECT_DOUBLE_EQ(area(square, triangulate_polygon(square)), 4.0);
    EXPECT_DOUBLE_EQ(area(square, triangulate_polygon({square.rbegin(), square.rend()})), 4.0);

    // No area, or edges that cross so the halves cancel: nothing.
    EXPECT_TRUE(triangulate_polygon({{0, 0, 0}, {1, 0, 0}, {2, 0, 0}}).empty());
    EXPECT_TRUE(triangulate_polygon({{0, 0, 0}, {1, 1, 0}, {1, 0, 0}, {0, 1, 0}}).empty());
}

TEST(SurfaceNormals, NormalsFaceTheViewerAndStayOnTheSurfacesSide)
{
    const Vec3 down = {0.0f, 0.0f, -1.0f};  // looking down at the plane z = 0

    // A triangle wound away from the viewer, its corners' normals the same way.
    SurfaceNormals n = facing_normals({0.0f, 0.0f, -2.0f}, {0.0f, 0.6f, -0.8f}, down);
    EXPECT_EQ(n.geometric.z, 1.0f);
    EXPECT_FLOAT_EQ(n.shading.y, -0.6f);
    EXPECT_FLOAT_EQ(n.shading.z, 0.8f);

    // No normal to interpolate: the geometric one.
    n = facing_normals({0.0f, 0.0f, 1.0f}, {0.0f, 0.0f, 0.0f}, down);
    EXPECT_EQ(n.shading.z, 1.0f);

    // A normal bent almost into the surface, (1, 0, 0.05): the view's mirror
    // image about it would point down into the surface. It is bent back
    // until the mirror image rises 0.01 above it: the half-way vector of the
    // viewer (0, 0, 1) and (sqrt(1 - 0.01^2), 0, 0.01), (0.70356, 0, 0.71063).
    n = facing_normals({0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 0.05f}, down);
    EXPECT_NEAR(n.shading.x, 0.70356f, 1e-5f);
    EXPECT_EQ(n.shading.y, 0.0f);
    EXPECT_NEAR(n.shading.z, 0.71063f, 1e-5f);

    // Bent less, it is kept as it is.
    n = facing_normals({0.0f, 0.0f, 1.0f}, {0.6f, 0.0f, 0.8f}, down);
    EXPECT_FLOAT_EQ(n.shading.x, 0.6f);
    EXPECT_FLOAT_EQ(n.shading.z, 0.8f);
}

// A yes/no probe answers yes exactly when the nearest hit's distance, as a
// nearest-hit probe reports it (Embree's multiples times the direction's
// length, in single precision), is at most the distance asked about: yes at
// that distance itself, no one step of the float below it, for directions of
// any length, on the structure built for them. Both pass through the ground
// triangle they start just under.
TEST(ProbeTracer, YesNoProbesAnswerAsTheNearestHitClassifies)
{
    Mesh scene;
    scene.positions = {{-50.0f, 0.0f, -50.0f}, {50.0f, 0.0f, -50.0f}, {0.0f, 0.0f, 50.0f}};
    scene.triangles = {{0, 2, 1}};
    scene.corner_normals = {{Vec3{0, 1, 0}, Vec3{0, 1, 0}, Vec3{0, 1, 0}}};
    scene.append(make_sphere({0.0f, 3.0f, 0.0f}, 2.0f, 48, 24));
    const RayTracer tracer(scene);
    ProbeTracer probes(tracer);
    probes.start_on(0);
    probes.nearest_on_yes_no_structure(true);

    std::mt19937 random(7);
    std::uniform_real_distribution<float> across(-0.4f, 0.4f), length_of(0.25f, 4.0f);
    for (int i = 0; i < 2000; ++i) {
        const Vec3 origin = {across(random), -1e-4f, across(random)};
        const Vec3 d = normalized(Vec3{across(random), 1.0f, across(random)}) * length_of(random);
        const float l = length(d), inverse_length = 1.0f / l;

        float multiples = 0.0f;
        ASSERT_TRUE(probes.hit_distance(origin, d, std::numeric_limits<float>::infinity(), multiples));
        const float t = multiples * l;
        const float below = std::nextafter(t, 0.0f);
        EXPECT_TRUE(probes.hit_within(origin, d, ProbeTracer::yes_no_reach(t, inverse_length), l, t)) << i;
        EXPECT_FALSE(probes.hit_within(origin, d, ProbeTracer::yes_no_reach(below, inverse_length), l, below)) << i;
    }
}

// The triangle (0,0,0) (1,0,0) (0,1,0), wound toward +Z, with the given
// corner faces appended; normals (1,1,0)/sqrt(2) at every vertex if asked.
aiMesh *triangle_mesh(bool with_normals, std::vector<std::vector<unsigned>> faces = {{0, 1, 2}})
{
    auto *mesh = new aiMesh;
    mesh->mNumVertices = 3;
    mesh->mVertices = new aiVector3D[3]{{0, 0, 0}, {1, 0, 0}, {0, 1, 0}};
    if (with_normals)
        mesh->mNormals = new aiVector3D[3]{{0.70710678f, 0.70710678f, 0}, {0.70710678f, 0.70710678f, 0},
                                           {0.70710678f, 0.70710678f, 0}};
    mesh->mNumFaces = static_cast<unsigned>(faces.size());
    mesh->mFaces = new aiFace[faces.size()];
    for (std::size_t f = 0; f < faces.size(); ++f) {
        mesh->mFaces[f].mNumIndices = static_cast<unsigned>(faces[f].size());
        mesh->mFaces[f].mIndices = new unsigned[faces[f].size()];
        std::copy(faces[f].begin(), faces[f].end(), mesh->mFaces[f].mIndices);
    }
    return mesh;
}

aiNode *node(const char *name, const aiMatrix4x4 &transform, std::vector<unsigned> meshes)
{
    auto *n = new aiNode(name);
    n->mTransformation = transform;
    n->mNumMeshes = static_cast<unsigned>(meshes.size());
    n->mMeshes = new unsigned[meshes.size()];
    std::copy(meshes.begin(), meshes.end(), n->mMeshes);
    return n;
}

// A scene of the given meshes, placed by the root's children.
struct BuiltScene {
    aiScene scene;
    BuiltScene(std::vector<aiMesh *> meshes, std::vector<aiNode *> children)
    {
        scene.mNumMeshes = static_cast<unsigned>(meshes.size());
        scene.mMeshes = new aiMesh *[meshes.size()];
        std::copy(meshes.begin(), meshes.end(), scene.mMeshes);
        scene.mRootNode = new aiNode("root");
        scene.mRootNode->addChildren(static_cast<unsigned>(children.size()), children.data());
    }
};

DVec3 placed(const Mesh &mesh, std::size_t triangle, int corner)
{
    return mesh.origin + to_double(mesh.positions[mesh.triangles[triangle][corner]]);
}

TEST(SceneConversion, InstancesAreCopiedThroughTheirNodes)
{
    aiMatrix4x4 stretched;  // x doubled, then moved 10 along x
    stretched.a1 = 2.0f;
    stretched.a4 = 10.0f;
    aiMatrix4x4 mirrored;  // x negated
    mirrored.a1 = -1.0f;
    BuiltScene built({triangle_mesh(true), triangle_mesh(false)},
                     {node("stretched", stretched, {0}), node("mirrored", mirrored, {0, 1})});
    const ImportedScene scene = convert_scene(built.scene, "built");
    const Mesh &mesh = scene.loaded.mesh;
    ASSERT_EQ(mesh.triangles.size(), 3u);
    EXPECT_DOUBLE_EQ(placed(mesh, 0, 1).x, 12.0);
    EXPECT_DOUBLE_EQ(placed(mesh, 0, 2).y, 1.0);

    // Normals through the inverse transpose: (1,1,0) stretched in x becomes
    // (0.5,1,0), unit (0.44721, 0.89443, 0); mirrored, (-1,1,0).
    EXPECT_NEAR(mesh.corner_normals[0][0].x, 0.44721f, 1e-5f);
    EXPECT_NEAR(mesh.corner_normals[0][0].y, 0.89443f, 1e-5f);
    EXPECT_NEAR(mesh.corner_normals[1][2].x, -0.70711f, 1e-5f);
    EXPECT_NEAR(mesh.corner_normals[1][2].y, 0.70711f, 1e-5f);
    // A mirror image keeps the face's side: without normals it still faces +Z.
    EXPECT_FLOAT_EQ(mesh.corner_normals[2][0].z, 1.0f);
    const Vec3 a = mesh.positions[mesh.triangles[2][0]], b = mesh.positions[mesh.triangles[2][1]],
               c = mesh.positions[mesh.triangles[2][2]];
    EXPECT_GT(cross(b - a, c - a).z, 0.0f);

    ASSERT_EQ(scene.loaded.meshes.size(), 2u);
    EXPECT_EQ(scene.loaded.meshes[0].placements, 2u);
    EXPECT_EQ(scene.loaded.meshes[0].triangles, 1u);
}

TEST(SceneConversion, OnlyTrianglesAreKeptAndFaultsNameTheirPlace)
{
    BuiltScene mixed({triangle_mesh(false, {{0}, {0, 1}, {0, 1, 2}, {1, 2}})}, {node("n", aiMatrix4x4(), {0})});
    mixed.scene.mFlags = AI_SCENE_FLAGS_INCOMPLETE;
    const ImportedScene scene = convert_scene(mixed.scene, "mixed.ply");
    EXPECT_EQ(scene.loaded.mesh.triangles.size(), 1u);
    ASSERT_EQ(scene.loaded.warnings.size(), 2u);
    EXPECT_EQ(scene.loaded.warnings[0], "mixed.ply: skipped 1 point and 2 lines; only triangles are rendered");
    EXPECT_EQ(scene.loaded.warnings[1], "mixed.ply: the reader read the file only in part");

    const auto fault = [](BuiltScene &&built) {
        try {
            convert_scene(built.scene, "bad.glb");
        } catch (const SceneError &error) {
            return std::string(error.what());
        }
        return std::string("no error");
    };
    // Without triangles, the scene says what it holds instead: points and
    // lines, a point cloud's vertices, and not Assimp's skeleton stand-in
    // for a file without meshes (its bones one per node), but the nodes.
    const auto holds = [](BuiltScene &&built) {
        const ImportedScene scene = convert_scene(built.scene, "none.dae");
        EXPECT_TRUE(scene.loaded.mesh.triangles.empty());
        return scene.holds;
    };
    EXPECT_EQ(holds(BuiltScene({triangle_mesh(false, {{0}, {1, 2}})}, {node("n", aiMatrix4x4(), {0})})),
              "1 point, 1 line and no faces");
    aiMesh *cloud = triangle_mesh(false, {});
    EXPECT_EQ(holds(BuiltScene({cloud}, {node("n", aiMatrix4x4(), {0})})), "3 points and no faces");
    aiMesh *skeleton = triangle_mesh(false);
    skeleton->mNumBones = 2;
    skeleton->mBones = new aiBone *[2]{new aiBone, new aiBone};
    BuiltScene stand_in({skeleton}, {node("n", aiMatrix4x4(), {0})});
    stand_in.scene.mNumMaterials = 1;
    stand_in.scene.mMaterials = new aiMaterial *[1]{new aiMaterial};
    const aiString skeleton_material("SkeletonMaterial");
    stand_in.scene.mMaterials[0]->AddProperty(&skeleton_material, AI_MATKEY_NAME);
    stand_in.scene.mNumCameras = 1;
    stand_in.scene.mCameras = new aiCamera *[1]{new aiCamera};
    EXPECT_EQ(holds(std::move(stand_in)), "1 camera, 2 nodes and no faces");
    EXPECT_EQ(fault(BuiltScene({triangle_mesh(false, {{0, 1, 3}})}, {node("n", aiMatrix4x4(), {0})})),
              "bad.glb: face 1 of mesh \"n\" refers to vertex 4 of 3") << "named by its node";
    EXPECT_EQ(fault(BuiltScene({triangle_mesh(false)}, {node("n", aiMatrix4x4(), {1})})),
              "bad.glb: node \"n\" places mesh 2, which does not exist");
    aiMesh *not_a_point = triangle_mesh(false);
    not_a_point->mVertices[2].y = std::nanf("");
    EXPECT_EQ(fault(BuiltScene({not_a_point}, {node("far", aiMatrix4x4(), {0})})),
              "bad.glb: vertex 3 of mesh \"far\" is not a finite point where node \"far\" places it");
}

TEST(SceneConversion, CamerasUnitsAndUpComeFromTheFile)
{
    // A camera node turned 90 degrees about +Y and moved to (1,2,3); the
    // camera one unit along its own +Z, looking along -Z: from (2,2,3)
    // along -X. 90 degrees wide at an aspect of 2: 2 atan(0.5) = 53.130
    // degrees high.
    BuiltScene built({triangle_mesh(false)}, {node("n", aiMatrix4x4(), {0})});
    aiMatrix4x4 turned;
    turned.a1 = 0.0f, turned.a3 = 1.0f, turned.c1 = -1.0f, turned.c3 = 0.0f;
    turned.a4 = 1.0f, turned.b4 = 2.0f, turned.c4 = 3.0f;
    built.scene.mRootNode->addChildren(1, std::vector<aiNode *>{node("eye", turned, {})}.data());
    auto *camera = new aiCamera;
    camera->mName = "eye";
    camera->mPosition = {0.0f, 0.0f, 1.0f};
    camera->mLookAt = {0.0f, 0.0f, -1.0f};
    camera->mHorizontalFOV = 1.57079633f;
    camera->mAspect = 2.0f;
    built.scene.mNumCameras = 1;
    built.scene.mCameras = new aiCamera *[1]{camera};
    built.scene.mMetaData = aiMetadata::Alloc(4);
    built.scene.mMetaData->Set(0, AI_METADATA_SOURCE_FORMAT, aiString("Autodesk FBX Importer"));
    built.scene.mMetaData->Set(1, "UnitScaleFactor", 2.54);
    built.scene.mMetaData->Set(2, "UpAxis", int32_t(2));
    built.scene.mMetaData->Set(3, "UpAxisSign", int32_t(1));

    const ImportedScene scene = convert_scene(built.scene, "camera.fbx");
    ASSERT_EQ(scene.cameras.size(), 1u);
    const Camera view = scene.cameras[0].view(1.0f);
    EXPECT_NEAR(view.eye.x, 2.0, 1e-6);
    EXPECT_NEAR(view.eye.y, 2.0, 1e-6);
    EXPECT_NEAR(view.eye.z, 3.0, 1e-6);
    EXPECT_NEAR(scene.cameras[0].direction.x, -1.0, 1e-6);
    EXPECT_NEAR(view.fov_degrees, 53.130f, 1e-3f);
    EXPECT_NEAR(*scene.units_per_metre, 39.370, 1e-3) << "1 unit is 2.54 cm";
    EXPECT_EQ(scene.up, UpAxis::z);

    // As Assimp hands over a glTF camera 0.5 radians high at an aspect of 2
    // on a node at (1,2,3): its position a copy of the node's, and a
    // "horizontal" angle of 0.5 times 2. The camera stands at the node, 0.5
    // radians (28.648 degrees) high.
    camera->mPosition = {1.0f, 2.0f, 3.0f};
    camera->mHorizontalFOV = 1.0f;
    built.scene.mMetaData->Set(0, AI_METADATA_SOURCE_FORMAT, aiString("glTF2 Importer"));
    const Camera gltf = convert_scene(built.scene, "camera.gltf").cameras[0].view(1.0f);
    EXPECT_NEAR(length(gltf.eye - DVec3{1.0, 2.0, 3.0}), 0.0, 1e-6);
    EXPECT_NEAR(gltf.fov_degrees, 28.648f, 1e-3f);

    // As Assimp hands over a 3DS camera: its position and target direction
    // in the file's own frame, and a node placed at the same position. The
    // root turns the file's Z-up to Y, (x, y, z) to (x, z, -y): the camera
    // at (1,2,3) looking along +X stands at (1,3,-2), not (2,6,-4).
    aiMatrix4x4 turn_to_y;
    turn_to_y.b2 = 0.0f, turn_to_y.b3 = 1.0f, turn_to_y.c2 = -1.0f, turn_to_y.c3 = 0.0f;
    built.scene.mRootNode->mTransformation = turn_to_y;
    built.scene.mRootNode->mChildren[1]->mTransformation = aiMatrix4x4();
    built.scene.mRootNode->mChildren[1]->mTransformation.a4 = 1.0f;
    built.scene.mRootNode->mChildren[1]->mTransformation.b4 = 2.0f;
    built.scene.mRootNode->mChildren[1]->mTransformation.c4 = 3.0f;
    camera->mLookAt = {1.0f, 0.0f, 0.0f};
    built.scene.mMetaData->Set(0, AI_METADATA_SOURCE_FORMAT, aiString("Discreet 3DS Importer"));
    const ImportedScene discreet = convert_scene(built.scene, "camera.3ds");
    EXPECT_NEAR(length(discreet.cameras[0].eye - DVec3{1.0, 3.0, -2.0}), 0.0, 1e-6);
    EXPECT_NEAR(discreet.cameras[0].direction.x, 1.0, 1e-6);

    // FBX's up axis with its sign: X down.
    built.scene.mMetaData->Set(0, AI_METADATA_SOURCE_FORMAT, aiString("Autodesk FBX Importer"));
    built.scene.mMetaData->Set(2, "UpAxis", int32_t(0));
    built.scene.mMetaData->Set(3, "UpAxisSign", int32_t(-1));
    EXPECT_EQ(convert_scene(built.scene, "down.fbx").up, UpAxis::minus_x);
}

// A skinned mesh placed by its joints: a joint at (0,2,0) whose inverse bind
// matrix moves (0,-1,0) holds vertex 1 whole, so it rises by 1; vertex 2 it
// holds half, with an unmoved joint, so it rises by 0.5; vertex 3 no bone
// holds keeps the transform of the mesh's node (10 along x), which the
// other vertices ignore.
TEST(SceneConversion, SkinnedMeshesArePosedByTheirJoints)
{
    aiMesh *skinned = triangle_mesh(true);
    skinned->mNumBones = 2;
    skinned->mBones = new aiBone *[2]{new aiBone, new aiBone};
    skinned->mBones[0]->mName = "raised";
    skinned->mBones[0]->mOffsetMatrix.b4 = -1.0f;
    skinned->mBones[0]->mNumWeights = 2;
    skinned->mBones[0]->mWeights = new aiVertexWeight[2]{{0, 1.0f}, {1, 0.25f}};
    skinned->mBones[1]->mName = "still";
    skinned->mBones[1]->mNumWeights = 1;
    skinned->mBones[1]->mWeights = new aiVertexWeight[1]{{1, 0.25f}};
    aiMatrix4x4 moved;
    moved.a4 = 10.0f;
    aiMatrix4x4 raised;
    raised.b4 = 2.0f;
    BuiltScene built({skinned}, {node("mesh", moved, {0}), node("raised", raised, {}), node("still", {}, {})});
    const Mesh mesh = convert_scene(built.scene, "skinned.gltf").loaded.mesh;
    EXPECT_NEAR(length(placed(mesh, 0, 0) - DVec3{0.0, 1.0, 0.0}), 0.0, 1e-6);
    EXPECT_NEAR(length(placed(mesh, 0, 1) - DVec3{1.0, 0.5, 0.0}), 0.0, 1e-6);
    EXPECT_NEAR(length(placed(mesh, 0, 2) - DVec3{10.0, 1.0, 0.0}), 0.0, 1e-6);
    // Translations leave the normals as they were.
    EXPECT_NEAR(mesh.corner_normals[0][1].x, 0.70711f, 1e-5f);

    // A weight on a vertex the mesh does not have.
    skinned->mBones[1]->mWeights[0].mVertexId = 3;
    try {
        convert_scene(built.scene, "skinned.gltf");
        ADD_FAILURE() << "a weight on vertex 4 of 3";
    } catch (const SceneError &error) {
        EXPECT_STREQ(error.what(), "skinned.gltf: bone \"still\" of mesh \"mesh\" weighs vertex 4 of 3");
    }
}

// Meshes are named as the file names them, or by the node that places them;
// --hide and --only match the mesh's name, its node's or an ancestor's.
TEST(SceneConversion, MeshesAreNamedAndChosenByTheirNodes)
{
    aiMesh *named = triangle_mesh(false);
    named->mName = "wing";
    BuiltScene built({triangle_mesh(false), named}, {node("light_cone", {}, {0}), node("aircraft", {}, {})});
    built.scene.mRootNode->mChildren[1]->addChildren(1, std::vector<aiNode *>{node("left", {}, {1})}.data());
    const auto shown = [&](std::vector<std::string> hide, std::vector<std::string> only) {
        MeshChoice choice;
        choice.hide = std::move(hide);
        choice.only = std::move(only);
        const ImportedScene scene = convert_scene(built.scene, "plane.ac", choice);
        std::string names;
        for (const MeshSummary &m : scene.loaded.meshes)
            names += m.name + (m.placements ? " shown; " : " hidden; ");
        return names + std::to_string(scene.loaded.mesh.triangles.size()) + " " +
               std::to_string(scene.loaded.warnings.size());
    };
    EXPECT_EQ(shown({}, {}), "light_cone shown; wing shown; 2 0");
    EXPECT_EQ(shown({"*cone"}, {}), "light_cone hidden; wing shown; 1 0");
    EXPECT_EQ(shown({}, {"aircraft"}), "light_cone hidden; wing shown; 1 0") << "an ancestor";
    EXPECT_EQ(shown({"wing", "wheel*"}, {}), "light_cone shown; wing hidden; 1 1") << "one pattern matched nothing";
    try {
        shown({"*"}, {});
        ADD_FAILURE() << "every triangle hidden";
    } catch (const SceneError &error) {
        EXPECT_STREQ(error.what(), "plane.ac: --hide and --only leave no triangles to render");
    }

    EXPECT_TRUE(matches_pattern("wheel*", "wheel_1"));
    EXPECT_TRUE(matches_pattern("*cone*", "light_cone_left"));
    EXPECT_TRUE(matches_pattern("a*b", "acb"));
    EXPECT_TRUE(matches_pattern("a*b", "ab"));
    EXPECT_FALSE(matches_pattern("a*b", "abc"));
    EXPECT_FALSE(matches_pattern("wheel", "wheel_1"));
}

// A model of 1000 triangles two units across, with a wake plane of 2
// triangles reaching 100 units out and a marker of 2 just beside it: the
// plane is set aside from the framing, the marker is framed.
TEST(SceneFraming, HelperGeometryIsSetAsideAndTheReachSuitsTheScene)
{
    Mesh mesh;
    mesh.positions = {{0, 0, 0}, {100, 0, 0}, {0, 0, 2}};
    mesh.triangles = {{0, 1, 2}};
    mesh.origin = {50, 0, 0};
    const std::vector<MeshSummary> meshes = {{"model", 1000, 1, 0, {}, {0, 0, 0}, {2, 2, 0}},
                                             {"wake", 2, 1, 0, {}, {0, 0, 0}, {100, 0, 2}},
                                             {"marker", 2, 1, 0, {}, {2, 0, 0}, {2.5, 0.5, 0}}};
    const Framing framing = frame_scene(mesh, meshes);
    ASSERT_EQ(framing.set_aside, std::vector<std::string>{"wake"});
    EXPECT_EQ(framing.bounds.low.x, -50.0f) << "relative to the origin";
    EXPECT_EQ(framing.bounds.high.x, -47.5f);
    EXPECT_EQ(framing.bounds.high.y, 2.0f);
    EXPECT_DOUBLE_EQ(framing.size(), std::sqrt(2.5 * 2.5 + 4.0));

    // Where every mesh holds a fair share, all of them frame the scene.
    std::vector<MeshSummary> fair = meshes;
    fair[1].triangles = 100;
    EXPECT_TRUE(frame_scene(mesh, fair).set_aside.empty());

    EXPECT_DOUBLE_EQ(suited_reach(85.4), 9.0);
    EXPECT_DOUBLE_EQ(suited_reach(1940.0), 200.0);
    EXPECT_DOUBLE_EQ(suited_reach(0.186), 0.02);
}

// Each of the six up axes turns to +Y, without mirroring the scene, and back.
TEST(UpAxes, EachTurnsItsUpToY)
{
    const std::pair<const char *, Vec3> axes[] = {{"x", {1, 0, 0}},  {"+y", {0, 1, 0}},  {"z", {0, 0, 1}},
                                                  {"-x", {-1, 0, 0}}, {"-y", {0, -1, 0}}, {"-Z", {0, 0, -1}}};
    for (const auto &[text, up] : axes) {
        const UpAxis axis = parse_up_axis(text);
        const Vec3 y = to_y_up(up, axis);
        EXPECT_EQ(y.y, 1.0f) << text;
        const Vec3 x = to_y_up(Vec3{1, 0, 0}, axis), z = to_y_up(Vec3{0, 0, 1}, axis);
        EXPECT_EQ(dot(cross(x, to_y_up(Vec3{0, 1, 0}, axis)), z), 1.0f) << text << ": a turn, not a mirror";
        const Vec3 d = {0.25f, -0.5f, 2.0f};
        const Vec3 back = from_y_up(to_y_up(d, axis), axis);
        EXPECT_EQ(length(back - d), 0.0f) << text;
        // Looking straight down the up axis, the camera keeps a frame: its
        // opposite corners look apart ((1 - 1 - 1) / 3 at 90 degrees).
        const CameraRays rays({to_double(up * 5.0f), {0, 0, 0}, 90.0f}, {0, 0, 0}, axis, 2, 2);
        EXPECT_NEAR(dot(rays.direction(0, 0), rays.direction(2, 2)), -1.0f / 3.0f, 1e-6f) << text;
        if (axis == UpAxis::x)  // its right is -y, as the page's camera has it too
            EXPECT_NEAR(rays.direction(2, 1).y, -0.5f * std::sqrt(2.0f), 1e-6f);
    }
    EXPECT_EQ(up_axis_name(parse_up_axis("-z")), "-Z");
    // The frame the environment was laid out in for a Z-up scene: its -Y
    // (toward the camera) turns to +Z.
    EXPECT_EQ(to_y_up(Vec3{0, -1, 0}, UpAxis::z).z, 1.0f);
    EXPECT_THROW(parse_up_axis("w"), std::invalid_argument);
    EXPECT_THROW(parse_up_axis("--y"), std::invalid_argument);
}

// A mesh that carries UV set 1 but not set 0, and one with neither: every
// triangle gets a triple in both sets, (0, 0) where its mesh has none.
TEST(SceneConversion, UVSetsAreKeptPerTriangle)
{
    aiMesh *with_uvs = triangle_mesh(false);
    with_uvs->mTextureCoords[1] = new aiVector3D[3]{{0.25f, 0.5f, 0}, {1, 0.5f, 0}, {0.25f, 1, 0}};
    BuiltScene built({triangle_mesh(false), with_uvs}, {node("n", aiMatrix4x4(), {0, 1})});
    const Mesh mesh = convert_scene(built.scene, "uvs.glb").loaded.mesh;
    ASSERT_EQ(mesh.uv_sets.size(), 2u);
    for (const UVSet &set : mesh.uv_sets)
        ASSERT_EQ(set.size(), 2u);
    EXPECT_EQ(mesh.uv_sets[1][0][2].v, 0.0f);
    EXPECT_EQ(mesh.uv_sets[1][1][0].u, 0.25f);
    EXPECT_EQ(mesh.uv_sets[1][1][2].v, 1.0f);
    EXPECT_EQ(mesh.uv_sets[0][1][1].u, 0.0f);
}

// Flat triangles in the plane z = 0 whose UVs are their x and y.
Mesh uv_mesh(const std::vector<std::array<TexCoord, 3>> &triangles)
{
    Mesh mesh;
    mesh.uv_sets.resize(1);
    for (const auto &t : triangles) {
        const auto first = static_cast<std::uint32_t>(mesh.positions.size());
        for (const TexCoord &c : t)
            mesh.positions.push_back({c.u, c.v, 0.0f});
        mesh.triangles.push_back({first, first + 1, first + 2});
        mesh.corner_normals.push_back({Vec3{0, 0, 1}, Vec3{0, 0, 1}, Vec3{0, 0, 1}});
        mesh.uv_sets[0].push_back(t);
    }
    return mesh;
}

// How many triangles cover each texel centre of a one-tile texture, and how
// many centres some triangle shares with another.
struct Cover {
    std::vector<std::uint32_t> owners;
    std::size_t covered = 0, shared = 0;
};
Cover cover_centres(const UVLayout &layout)
{
    const UVLayout::Rect r = layout.tile(0);
    std::vector<TexelPoint> points;
    for (int y = r.y0; y < r.y1; ++y) {
        for (int x = r.x0; x < r.x1; ++x)
            points.push_back({x + 0.5, y + 0.5});
    }
    Cover cover;
    cover.owners.resize(points.size());
    std::unique_ptr<bool[]> shared(new bool[points.size()]);
    layout.cover(0, points.data(), 1, cover.owners.data(), shared.get());
    for (std::size_t i = 0; i < points.size(); ++i) {
        cover.covered += cover.owners[i] != uncovered;
        cover.shared += shared[i];
    }
    return cover;
}

// The unit square cut into quarters, each split along a diagonal, over 9 by
// 9 texels: the cuts and the diagonals run through texel centres, and the
// quarters meet on the middle texel's. Each centre belongs to exactly one
// triangle, whichever way round a triangle's corners are given.
TEST(UVLayout, EachTexelOfASeamlessIslandIsCoveredOnce)
{
    const auto quarters = [](bool reversed) {
        std::vector<std::array<TexCoord, 3>> triangles;
        for (const float u : {0.0f, 0.5f}) {
            for (const float v : {0.0f, 0.5f}) {
                const TexCoord a = {u, v}, b = {u + 0.5f, v}, c = {u + 0.5f, v + 0.5f}, d = {u, v + 0.5f};
                triangles.push_back({a, b, c});
                triangles.push_back(reversed ? std::array<TexCoord, 3>{a, d, c} : std::array<TexCoord, 3>{a, c, d});
            }
        }
        return triangles;
    };
    for (const bool reversed : {false, true}) {
        const Cover cover = cover_centres(UVLayout(uv_mesh(quarters(reversed)), 0, 9, 9));
        EXPECT_EQ(cover.covered, 81u) << reversed;
        EXPECT_EQ(cover.shared, 0u) << reversed;
    }

    // The whole square's lower right half stacked on its upper left, then
    // again, mirrored: its 36 centres off the diagonal are covered three
    // times, shaded for the first triangle there (the diagonal's belong to
    // the other half).
    const TexCoord a = {0, 0}, b = {1, 0}, c = {1, 1}, d = {0, 1};
    const UVLayout stacked(uv_mesh({{a, b, c}, {a, c, d}, {a, b, c}, {a, c, b}}), 0, 9, 9);
    const Cover thrice = cover_centres(stacked);
    EXPECT_EQ(thrice.covered, 81u);
    EXPECT_EQ(thrice.shared, 36u);
    EXPECT_EQ(std::count(thrice.owners.begin(), thrice.owners.end(), 0u), 36);
}

TEST(UVLayout, TrianglesAreWeightedAtTheirTexelsAndCounted)
{
    // (0,0) (1,0) (0,1) over 4 by 4 texels: the centre of texel (1, 3), in
    // the bottom row, lies at u = 0.375, v = 0.125, so the corners weigh
    // 0.5, 0.375 and 0.125; wound the other way, the last two swap.
    const TexCoord a = {0, 0}, b = {1, 0}, d = {0, 1};
    const UVLayout layout(uv_mesh({{a, b, d}, {a, d, b}}), 0, 4, 4);
    const std::array<double, 3> ccw = layout.weights(0, {1.5, 3.5}), cw = layout.weights(1, {1.5, 3.5});
    EXPECT_DOUBLE_EQ(ccw[0], 0.5);
    EXPECT_DOUBLE_EQ(ccw[1], 0.375);
    EXPECT_DOUBLE_EQ(ccw[2], 0.125);
    EXPECT_DOUBLE_EQ(cw[1], 0.125);
    EXPECT_DOUBLE_EQ(cw[2], 0.375);

    // No area, coordinates that are not finite, and a triangle half outside.
    const TexCoord nan = {std::nanf(""), 0.0f}, e = {0.5f, 0.5f}, f = {1.5f, 0.5f}, g = {0.5f, 1.5f};
    const UVLayout odd(uv_mesh({{a, b, b}, {a, b, nan}, {e, f, g}}), 0, 4, 4);
    EXPECT_EQ(odd.triangles_without_area(), 2u);
    EXPECT_EQ(odd.triangles_reaching_out(), 1u);
    EXPECT_EQ(cover_centres(odd).covered, 4u) << "the four texels of its part inside";
}

// Two baked texels, 0.2 at (2, 1) and 0.6 at (4, 1), in an image of 7 by
// 3, and a missed one at (1, 1): each ring takes the mean of its texels'
// baked or padded neighbours; the missed texel stays and passes nothing on.
TEST(TexturePadding, RingsTakeTheMeanOfTheirFilledNeighbours)
{
    Image image;
    image.width = 7;
    image.height = 3;
    image.pixels.assign(21, miColor{});
    std::vector<TexelState> states(21, TexelState::empty);
    image.pixels[9] = {0.2f, 0.2f, 0.2f, 1.0f};
    image.pixels[11] = {0.6f, 0.6f, 0.6f, 1.0f};
    states[9] = states[11] = TexelState::baked;
    states[8] = TexelState::missed;
    Image once = image;
    std::vector<TexelState> once_states = states;
    pad_texels(once, once_states, 1);
    EXPECT_FLOAT_EQ(once.pixels[10].r, 0.4f);  // (3, 1), between them
    EXPECT_FLOAT_EQ(once.pixels[3].r, 0.4f);   // (3, 0), both diagonal to it
    EXPECT_FLOAT_EQ(once.pixels[1].r, 0.2f);   // (1, 0)
    EXPECT_FLOAT_EQ(once.pixels[20].a, 0.0f);  // (6, 2), two texels out
    EXPECT_EQ(once.pixels[8].a, 0.0f);         // the missed texel
    EXPECT_EQ(once_states[7], TexelState::empty);

    pad_texels(image, states, 2);
    EXPECT_FLOAT_EQ(image.pixels[7].r, 0.2f) << "(0, 1) from (1, 0) and (1, 2), not the missed (1, 1)";
    EXPECT_FLOAT_EQ(image.pixels[20].r, 0.6f);
    EXPECT_EQ(image.pixels[8].a, 0.0f);
}

}  // namespace
