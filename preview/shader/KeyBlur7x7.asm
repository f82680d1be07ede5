// Keyed-frame composition, pixel shader model 3.0.
//
// Softens the hard alpha mask of the keyed camera frame with a 7 x 7 box average
// (never raising a pixel's own alpha) and, when a background is bound, composes the
// camera over it; without one the blend stage composes over the cleared target.
// KeyBlur7x7.hlsl beside this file is the same program in HLSL, for readers.
//
// tools/shader/assemble.sh turns this file into KeyBlur7x7.bin, the bytes that
// preview/Pictor.rc embeds. The assembler emits no constant table for assembly
// source, so the tool builds one from the "ctab" lines below and places it after
// the version token, where D3DX and debuggers look for it.
//
// ctab _const_data c0 float4
// ctab samstate s0 sampler2D
// ctab custombackgroundstate s1 sampler2D
//
// c0: x = 1 with a background, 0 without; y = frame width; z = frame height.
// s0: keyed camera frame. s1: background image. Both are clamped, point-sampled.

ps_3_0
def c1, -3, 1, 0.020408163, 0      // first offset, offset step and one, 1/49, zero
defi i0, 7, 0, 0, 0                // seven offsets per axis
dcl_texcoord0 v0
dcl_2d s0
dcl_2d s1

rcp r0.x, c0.y                     // one texel in u
rcp r0.y, c0.z                     // one texel in v
mov r0.zw, c1.w
mov r1, c1.w                       // r1.x: sum of the 49 alphas
mov r2, c1.w
mov r2.y, c1.x                     // r2.y: dy = -3
rep i0
  mov r2.x, c1.x                   // r2.x: dx = -3
  rep i0
    mad r3.xy, r2.xy, r0.xy, v0.xy
    mov r3.zw, c1.w                // level 0
    texldl r4, r3, s0
    add r1.x, r1.x, r4.w
    add r2.x, r2.x, c1.y
  endrep
  add r2.y, r2.y, c1.y
endrep
mul r1.x, r1.x, c1.z               // average alpha

texld r5, v0, s0                   // the pixel itself
min r5.w, r5.w, r1.x               // never more opaque than it was

if_gt c0.x, c1.w
  if_lt r5.w, c1.y
    mov r3.xy, v0.xy
    mov r3.zw, c1.w
    texldl r6, r3, s1
    lrp r5.xyz, r5.w, r5, r6       // a * camera + (1 - a) * background
    mov r5.w, c1.y
  endif
endif
mov oC0, r5
