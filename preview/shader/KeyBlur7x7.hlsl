// Reader's form of KeyBlur7x7.asm: the same computation in HLSL. It is not compiled
// by the build; the assembly beside it is the source of the embedded bytes.

float4 _const_data : register(c0);    // x: background flag, y: width, z: height
sampler2D samstate : register(s0);     // keyed camera frame, clamped, point-sampled
sampler2D custombackgroundstate : register(s1);  // background image

float4 main(float2 uv : TEXCOORD0) : COLOR0
{
    float2 texel = float2(1.0 / _const_data.y, 1.0 / _const_data.z);

    float sum = 0.0;
    for (int dy = -3; dy <= 3; ++dy)
        for (int dx = -3; dx <= 3; ++dx)
            sum += tex2Dlod(samstate, float4(uv + float2(dx, dy) * texel, 0, 0)).a;
    float average = sum * 0.020408163;

    float4 centre = tex2D(samstate, uv);
    float a = min(centre.a, average);

    if (_const_data.x > 0.0 && a < 1.0) {
        float4 background = tex2Dlod(custombackgroundstate, float4(uv, 0, 0));
        return float4(lerp(background.rgb, centre.rgb, a), 1.0);
    }
    return float4(centre.rgb, a);
}
