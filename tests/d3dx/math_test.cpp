// Matrix helpers: values, row-vector products with aliasing, and the
// projection the library builds from them.
#include <gtest/gtest.h>

#include "d3dx/d3dx8.h"

namespace {

D3DXMATRIX Filled(float base) {
  D3DXMATRIX m;
  for (int i = 0; i < 16; ++i) m.m[i / 4][i % 4] = base + static_cast<float>(i);
  return m;
}

// (x, y, z, 1) M: the row-vector convention.
void Transform(const D3DXMATRIX& m, float x, float y, float z, float out[4]) {
  for (int j = 0; j < 4; ++j) out[j] = x * m.m[0][j] + y * m.m[1][j] + z * m.m[2][j] + m.m[3][j];
}

void ExpectMatrix(const D3DXMATRIX& m, const float (&expected)[16]) {
  for (int i = 0; i < 16; ++i) EXPECT_FLOAT_EQ(m.m[i / 4][i % 4], expected[i]) << "element " << i;
}

TEST(D3dxMatrix, ScalingTranslationAndOrthoFillEveryElement) {
  D3DXMATRIX m = Filled(100);
  EXPECT_EQ(D3DXMatrixScaling(&m, 2, -3, 4), &m);
  ExpectMatrix(m, {2, 0, 0, 0, 0, -3, 0, 0, 0, 0, 4, 0, 0, 0, 0, 1});
  m = Filled(100);
  EXPECT_EQ(D3DXMatrixTranslation(&m, -0.5f, 0.5f, 7), &m);
  ExpectMatrix(m, {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, -0.5f, 0.5f, 7, 1});
  m = Filled(100);
  EXPECT_EQ(D3DXMatrixOrthoOffCenterLH(&m, 10, 50, -30, 90, 0.25f, 2.25f), &m);
  ExpectMatrix(m, {0.05f, 0, 0, 0, 0, 2.0f / 120, 0, 0, 0, 0, 0.5f, 0, -1.5f, -0.5f, -0.125f, 1});
}

TEST(D3dxMatrix, MultiplyIsRowVectorOrderAndMayAliasEitherInput) {
  const D3DXMATRIX a = Filled(1), b = Filled(-7);
  D3DXMATRIX ab, ba;
  EXPECT_EQ(D3DXMatrixMultiply(&ab, &a, &b), &ab);
  for (int i = 0; i < 16; ++i) {
    float sum = 0;
    for (int k = 0; k < 4; ++k) sum += a.m[i / 4][k] * b.m[k][i % 4];
    EXPECT_FLOAT_EQ(ab.m[i / 4][i % 4], sum);
  }
  D3DXMatrixMultiply(&ba, &b, &a);
  EXPECT_NE(ab.m[0][0], ba.m[0][0]);
  D3DXMATRIX left = a, right = b, square = a, aa;
  D3DXMatrixMultiply(&left, &left, &b);
  D3DXMatrixMultiply(&right, &a, &right);
  D3DXMatrixMultiply(&aa, &a, &a);
  D3DXMatrixMultiply(&square, &square, &square);
  for (int i = 0; i < 16; ++i) {
    EXPECT_FLOAT_EQ(left.m[i / 4][i % 4], ab.m[i / 4][i % 4]);
    EXPECT_FLOAT_EQ(right.m[i / 4][i % 4], ab.m[i / 4][i % 4]);
    EXPECT_FLOAT_EQ(square.m[i / 4][i % 4], aa.m[i / 4][i % 4]);
  }
}

TEST(D3dxMatrix, TheLibraryProjectionMapsPixelCentresOntoTheClip) {
  // Scaling(1,-1,1) x Translation(-0.5,0.5,0) x Ortho(left,right,-bottom,-top,0,1).
  const float left = 20, top = 10, right = 660, bottom = 490;
  D3DXMATRIX s, t, o, p;
  D3DXMatrixScaling(&s, 1, -1, 1);
  D3DXMatrixTranslation(&t, -0.5f, 0.5f, 0);
  D3DXMatrixOrthoOffCenterLH(&o, left, right, -bottom, -top, 0, 1);
  D3DXMatrixMultiply(&p, D3DXMatrixMultiply(&p, &s, &t), &o);
  float v[4];
  Transform(p, left + 0.5f, top + 0.5f, 0.75f, v);
  EXPECT_FLOAT_EQ(v[0], -1);
  EXPECT_FLOAT_EQ(v[1], 1);
  EXPECT_FLOAT_EQ(v[2], 0.75f);
  EXPECT_FLOAT_EQ(v[3], 1);
  Transform(p, right + 0.5f, bottom + 0.5f, 0, v);
  EXPECT_FLOAT_EQ(v[0], 1);
  EXPECT_FLOAT_EQ(v[1], -1);
}

}  // namespace
