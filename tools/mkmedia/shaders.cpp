// The lighting shader pair: a spot light carried at the camera, with distance
// attenuation and a little specular. Each file holds two versions: the
// OpenGL driver compiles the files as GLSL (where __VERSION__ is defined),
// the Direct3D driver as HLSL with the entry points vertexMain / pixelMain.
// Every constant the game sets is used, since a compiler drops unused
// uniforms and the game then could not find them by name; in the HLSL all of
// them belong to the vertex program, where the game sets them.
#include "MediaOut.h"

namespace mkmedia {

namespace {

const char* const kVertex = R"(// Lighting shader, vertex stage.
#ifdef __VERSION__

uniform mat4 matViewProjection;
uniform mat4 matWorld;
uniform mat4 matViewInverse;
uniform vec3 cameraPosition;

varying vec3 worldPosition;
varying vec3 worldNormal;
varying vec3 toEye;
varying float rim;

void main()
{
    gl_Position = matViewProjection * gl_Vertex;
    worldPosition = (matWorld * gl_Vertex).xyz;
    worldNormal = normalize(mat3(matWorld[0].xyz, matWorld[1].xyz, matWorld[2].xyz) * gl_Normal);
    toEye = cameraPosition - worldPosition;
    // The eye in the model frame gives a view-angle rim term.
    vec3 eyeInModel = (matViewInverse * vec4(0.0, 0.0, 0.0, 1.0)).xyz;
    rim = 1.0 - abs(dot(normalize(eyeInModel - gl_Vertex.xyz), normalize(gl_Normal)));
    gl_TexCoord[0] = gl_MultiTexCoord0;
    gl_FrontColor = gl_Color;
    gl_FogFragCoord = length(toEye);
}

#else

// The game sets every constant as a vertex-shader constant, so this stage
// takes them all and hands the light on to the pixel stage.
float4x4 matViewProjection;
float4x4 matWorld;
float4x4 matViewInverse;
float3 light1Position;
float3 cameraPosition;
float4 lightAttenuation;
float4 light1Color;
float3 light1Direction;

struct VS_OUTPUT
{
    float4 position : POSITION;
    float2 texCoord : TEXCOORD0;
    float3 toLight : TEXCOORD1;
    float3 worldNormal : TEXCOORD2;
    float3 toEye : TEXCOORD3;
    float rim : TEXCOORD4;
    float3 lightDirection : TEXCOORD5;
    float4 attenuation : TEXCOORD6;
    float4 lightColour : TEXCOORD7;
    float4 colour : COLOR0;
};

VS_OUTPUT vertexMain(float4 position : POSITION, float3 normal : NORMAL, float2 texCoord : TEXCOORD0,
                     float4 colour : COLOR0)
{
    VS_OUTPUT output;
    output.position = mul(position, matViewProjection);
    float3 worldPosition = mul(position, matWorld).xyz;
    output.worldNormal = normalize(mul(normal, (float3x3)matWorld));
    output.toLight = light1Position - worldPosition;
    output.toEye = cameraPosition - worldPosition;
    float3 eyeInModel = mul(float4(0.0, 0.0, 0.0, 1.0), matViewInverse).xyz;
    output.rim = 1.0 - abs(dot(normalize(eyeInModel - position.xyz), normalize(normal)));
    output.lightDirection = normalize(light1Direction);
    output.attenuation = lightAttenuation;
    output.lightColour = light1Color;
    output.texCoord = texCoord;
    output.colour = colour;
    return output;
}

#endif
)";

const char* const kPixel = R"(// Lighting shader, pixel stage.
#ifdef __VERSION__

uniform vec3 light1Position;
uniform vec3 light1Direction;
uniform vec4 light1Color;
uniform vec4 lightAttenuation;
uniform sampler2D texture0;

varying vec3 worldPosition;
varying vec3 worldNormal;
varying vec3 toEye;
varying float rim;

void main()
{
    vec3 toLight = light1Position - worldPosition;
    float dist = length(toLight);
    vec3 l = toLight / max(dist, 0.0001);
    vec3 n = normalize(worldNormal);
    float cone = smoothstep(0.5, 0.87, dot(-l, normalize(light1Direction)));
    float attenuation = 1.0 / (1.0 + lightAttenuation.x * dist + lightAttenuation.y * dist * dist
                               + lightAttenuation.z + lightAttenuation.w);
    float diffuse = max(dot(n, l), 0.0);
    vec3 h = normalize(l + normalize(toEye));
    float specular = pow(max(dot(n, h), 0.0), 24.0) * 0.4;
    vec4 texel = texture2D(texture0, gl_TexCoord[0].xy);
    vec3 ambient = vec3(0.05, 0.09, 0.14) + vec3(0.02, 0.05, 0.08) * rim;
    vec3 lit = light1Color.rgb * (diffuse * cone * attenuation) + ambient;
    vec3 colour = texel.rgb * gl_Color.rgb * lit + light1Color.rgb * specular * cone * attenuation;
    gl_FragColor = vec4(colour, texel.a * gl_Color.a * light1Color.a);
}

#else

sampler2D texture0;

float4 pixelMain(float2 texCoord : TEXCOORD0, float3 toLight : TEXCOORD1, float3 worldNormal : TEXCOORD2,
                 float3 toEye : TEXCOORD3, float rim : TEXCOORD4, float3 lightDirection : TEXCOORD5,
                 float4 attenuationFactors : TEXCOORD6, float4 lightColour : TEXCOORD7,
                 float4 colour : COLOR0) : COLOR0
{
    float dist = length(toLight);
    float3 l = toLight / max(dist, 0.0001);
    float3 n = normalize(worldNormal);
    float cone = smoothstep(0.5, 0.87, dot(-l, normalize(lightDirection)));
    float attenuation = 1.0 / (1.0 + attenuationFactors.x * dist + attenuationFactors.y * dist * dist
                               + attenuationFactors.z + attenuationFactors.w);
    float diffuse = max(dot(n, l), 0.0);
    float3 h = normalize(l + normalize(toEye));
    float specular = pow(max(dot(n, h), 0.0), 24.0) * 0.4;
    float4 texel = tex2D(texture0, texCoord);
    float3 ambient = float3(0.05, 0.09, 0.14) + float3(0.02, 0.05, 0.08) * rim;
    float3 lit = lightColour.rgb * (diffuse * cone * attenuation) + ambient;
    float3 result = texel.rgb * colour.rgb * lit + lightColour.rgb * specular * cone * attenuation;
    return float4(result, texel.a * colour.a * lightColour.a);
}

#endif
)";

}  // namespace

void writeShaders(const MediaOut& out) {
    out.writeText("shader/lights-vertex.hlsl", kVertex);
    out.writeText("shader/lights-pixel.hlsl", kPixel);
}

}  // namespace mkmedia
