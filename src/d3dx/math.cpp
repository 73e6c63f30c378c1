// The matrix helpers the projection is built from.
#include <cstring>

#include "d3dx/d3dx8.h"

namespace {
void Identity(D3DXMATRIX* out) {
  std::memset(out->m, 0, sizeof(out->m));
  out->_11 = out->_22 = out->_33 = out->_44 = 1.0f;
}
}  // namespace

D3DXMATRIX* WINAPI D3DXMatrixScaling(D3DXMATRIX* pOut, FLOAT sx, FLOAT sy, FLOAT sz) {
  Identity(pOut);
  pOut->_11 = sx;
  pOut->_22 = sy;
  pOut->_33 = sz;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixTranslation(D3DXMATRIX* pOut, FLOAT x, FLOAT y, FLOAT z) {
  Identity(pOut);
  pOut->_41 = x;
  pOut->_42 = y;
  pOut->_43 = z;
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixOrthoOffCenterLH(D3DXMATRIX* pOut, FLOAT l, FLOAT r, FLOAT b, FLOAT t,
                                              FLOAT zn, FLOAT zf) {
  Identity(pOut);
  pOut->_11 = 2.0f / (r - l);
  pOut->_22 = 2.0f / (t - b);
  pOut->_33 = 1.0f / (zf - zn);
  pOut->_41 = (l + r) / (l - r);
  pOut->_42 = (t + b) / (b - t);
  pOut->_43 = zn / (zn - zf);
  return pOut;
}

D3DXMATRIX* WINAPI D3DXMatrixMultiply(D3DXMATRIX* pOut, const D3DXMATRIX* pM1,
                                      const D3DXMATRIX* pM2) {
  // Computed into a temporary so that pOut may alias either input.
  FLOAT result[4][4];
  for (int i = 0; i < 4; ++i)
    for (int j = 0; j < 4; ++j)
      result[i][j] = pM1->m[i][0] * pM2->m[0][j] + pM1->m[i][1] * pM2->m[1][j] +
                     pM1->m[i][2] * pM2->m[2][j] + pM1->m[i][3] * pM2->m[3][j];
  std::memcpy(pOut->m, result, sizeof(result));
  return pOut;
}
