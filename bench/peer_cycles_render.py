# Renders a pure ambient-occlusion picture of an OBJ scene with Blender's
# Cycles, as bench/peer_cycles.sh compares it with umbrex-render: the same
# camera (pinhole, vertical field of view, through the pixel centres: a pixel
# filter a hundredth of a pixel wide), cosine-distributed occlusion rays to a
# distance, no denoising, no adaptive sampling, no lights, no bounces. Two
# ways:
#
#   node  the Ambient Occlusion shader node with SAMPLES occlusion rays, on one
#         camera sample per pixel, its AO output emitted as the surface's
#         colour: the work umbrex-render does, one shading and N occlusion
#         rays per pixel, traced by Cycles as shadow (any-hit) queries. The
#         node looks for occluders in its own object only ("only local"),
#         which is faster and, the scene being one object, the same picture;
#   pass  the ambient-occlusion render pass over SAMPLES path-tracing samples
#         per pixel, each a camera ray, a shading and one occlusion ray.
#
# One Blender process renders every seed in turn, so that the scene is
# loaded and its BVH built once (in an untimed first render; a BVH built for
# each render traces no faster); each render is timed on its own.
#
#   blender --background --factory-startup --python peer_cycles_render.py -- \
#       node|pass SCENE.obj EYE TARGET FOV WIDTH HEIGHT SAMPLES DISTANCE THREADS OUT_PREFIX SEED...
#
# EYE and TARGET are x,y,z in the OBJ's own (y-up) coordinates. Writes
# OUT_PREFIX-SEED.exr (the occlusion as linear RGB) and prints one line per
# render: "cycles samples N seed S seconds T".

import math
import sys
import time

import bpy
from mathutils import Vector

arguments = sys.argv[sys.argv.index("--") + 1:]
mode = arguments.pop(0)
if mode not in ("node", "pass"):
    sys.exit(f"peer_cycles_render.py: the first argument is node or pass, not {mode}")
scene_file, eye, target, fov = arguments[0], arguments[1], arguments[2], float(arguments[3])
width, height, samples = int(arguments[4]), int(arguments[5]), int(arguments[6])
distance, threads, prefix = float(arguments[7]), int(arguments[8]), arguments[9]
seeds = [int(s) for s in arguments[10:]]


def blender_point(text):
    # The OBJ importer turns y-up into Blender's z-up: (x, y, z) -> (x, -z, y).
    x, y, z = (float(v) for v in text.split(","))
    return Vector((x, -z, y))


bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.wm.obj_import(filepath=scene_file, forward_axis="NEGATIVE_Z", up_axis="Y")

scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.samples = samples
scene.cycles.use_adaptive_sampling = False
scene.cycles.use_denoising = False
scene.cycles.max_bounces = 0
scene.cycles.filter_width = 0.01
scene.render.threads_mode = "FIXED"
scene.render.threads = threads
scene.render.resolution_x = width
scene.render.resolution_y = height
scene.render.resolution_percentage = 100
scene.render.use_persistent_data = True

world = bpy.data.worlds.new("peer")
world.use_nodes = True
world.node_tree.nodes["Background"].inputs["Strength"].default_value = 0.0
world.light_settings.distance = distance
scene.world = world

camera_data = bpy.data.cameras.new("peer")
camera_data.sensor_fit = "VERTICAL"
camera_data.angle = math.radians(fov)
camera_data.clip_start = 1e-3
camera_data.clip_end = 1e6
camera = bpy.data.objects.new("peer", camera_data)
scene.collection.objects.link(camera)
camera.location = blender_point(eye)
camera.rotation_euler = (blender_point(target) - camera.location).to_track_quat("-Z", "Y").to_euler()
scene.camera = camera

if mode == "node":
    # Every surface emits its occlusion: the node's open fraction as the
    # colour, strength 1, so that the picture is the node's output.
    material = bpy.data.materials.new("peer")
    material.use_nodes = True
    tree = material.node_tree
    tree.nodes.clear()
    occlusion = tree.nodes.new("ShaderNodeAmbientOcclusion")
    occlusion.samples = samples
    occlusion.inside = False
    occlusion.only_local = True
    occlusion.inputs["Distance"].default_value = distance
    emission = tree.nodes.new("ShaderNodeEmission")
    emission.inputs["Strength"].default_value = 1.0
    output = tree.nodes.new("ShaderNodeOutputMaterial")
    tree.links.new(occlusion.outputs["AO"], emission.inputs["Color"])
    tree.links.new(emission.outputs["Emission"], output.inputs["Surface"])
    for thing in scene.objects:
        if thing.type == "MESH":
            thing.data.materials.clear()
            thing.data.materials.append(material)
else:
    view_layer = scene.view_layers[0]
    view_layer.use_pass_ambient_occlusion = True
    # The occlusion pass, and nothing else, into the file.
    scene.use_nodes = True
    nodes = scene.node_tree.nodes
    nodes.clear()
    layers = nodes.new("CompositorNodeRLayers")
    composite = nodes.new("CompositorNodeComposite")
    scene.node_tree.links.new(layers.outputs["AO"], composite.inputs["Image"])
scene.render.image_settings.file_format = "OPEN_EXR"
scene.render.image_settings.color_depth = "32"
scene.render.image_settings.color_mode = "RGB"
scene.view_settings.view_transform = "Standard"

# First one sample per pixel, untimed, which loads the scene and builds its
# BVH; then one sample per pixel again, whose time is what a render costs
# besides its samples; then each seed. The node's samples are its occlusion
# rays, on one camera sample; the pass's are camera samples.
renders = [("warm-up", 1, 0), ("cycles", 1, 0)] + [("cycles", samples, seed) for seed in seeds]
for label, count, seed in renders:
    if mode == "node":
        occlusion.samples = count
        scene.cycles.samples = 1
    else:
        scene.cycles.samples = count
    scene.cycles.seed = seed
    scene.render.filepath = f"{prefix}-{seed}.exr"
    start = time.perf_counter()
    bpy.ops.render.render(write_still=True)
    print(f"{label} samples {count} seed {seed} seconds {time.perf_counter() - start:.4f}", flush=True)
