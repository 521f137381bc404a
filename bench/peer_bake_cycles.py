# Bakes the ambient occlusion of an OBJ scene into a texture over its UVs
# with Blender's Cycles (bpy.ops.object.bake(type='AO')), as
# bench/peer_bake.sh compares it with umbrex-render --bake texture: one
# object, an image of SIZE x SIZE float texels cleared to transparent before
# each bake, no margin (so that only the texels a triangle covers are
# baked), occlusion rays to a distance, no denoising, no adaptive sampling.
# One Blender process bakes every seed in turn; each bake is timed on its
# own, the first (one sample, untimed) loads Cycles' kernels.
#
#   blender --background --factory-startup --python peer_bake_cycles.py -- \
#       SCENE.obj SIZE SAMPLES DISTANCE THREADS OUT_PREFIX SEED...
#
# Writes OUT_PREFIX-SEED.exr (RGBA, the occlusion as baked, linear) and
# prints one line per bake:
# "cycles samples N seed S seconds T".

import sys
import time

import bpy

arguments = sys.argv[sys.argv.index("--") + 1:]
scene_file, size, samples = arguments[0], int(arguments[1]), int(arguments[2])
distance, threads, prefix = float(arguments[3]), int(arguments[4]), arguments[5]
seeds = [int(s) for s in arguments[6:]]

bpy.ops.wm.read_factory_settings(use_empty=True)
bpy.ops.wm.obj_import(filepath=scene_file, forward_axis="NEGATIVE_Z", up_axis="Y")
baked = bpy.context.selected_objects[0]
bpy.context.view_layer.objects.active = baked

scene = bpy.context.scene
scene.render.engine = "CYCLES"
scene.cycles.device = "CPU"
scene.cycles.use_adaptive_sampling = False
scene.cycles.use_denoising = False
scene.render.threads_mode = "FIXED"
scene.render.threads = threads
scene.render.bake.margin = 0
scene.render.bake.use_clear = False

world = bpy.data.worlds.new("peer")
world.light_settings.distance = distance
scene.world = world

image = bpy.data.images.new("baked", size, size, alpha=True, float_buffer=True)
# The occlusion as it is, not turned into the sRGB colour of a new image.
image.colorspace_settings.name = "Non-Color"
material = bpy.data.materials.new("baked")
material.use_nodes = True
texture = material.node_tree.nodes.new("ShaderNodeTexImage")
texture.image = image
material.node_tree.nodes.active = texture
baked.data.materials.clear()
baked.data.materials.append(material)

transparent = [0.0] * (size * size * 4)
renders = [("warm-up", 1, 0), ("cycles", 1, 0)] + [("cycles", samples, seed) for seed in seeds]
for label, count, seed in renders:
    scene.cycles.samples = count
    scene.cycles.seed = seed
    image.pixels.foreach_set(transparent)
    start = time.perf_counter()
    bpy.ops.object.bake(type="AO", margin=0, use_clear=False)
    seconds = time.perf_counter() - start
    image.filepath_raw = f"{prefix}-{seed}.exr"
    image.file_format = "OPEN_EXR"
    image.save()
    print(f"{label} samples {count} seed {seed} seconds {seconds:.4f}", flush=True)
