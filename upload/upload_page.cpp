#include "upload/upload_page.h"

CUploadPage::CUploadPage(const unsigned char* pImage, uint32_t nImageSize, const unsigned char* pModelKey,
                         uint32_t nModelKeySize, const unsigned char* pBlankKey, uint32_t nBlankKeySize)
    : CNewWizPage(IDD_UPLOAD),
      m_pImage(pImage),
      m_nImageSize(nImageSize),
      m_pModelKey(pModelKey),
      m_nModelKeySize(nModelKeySize),
      m_pBlankKey(pBlankKey),
      m_nBlankKeySize(nBlankKeySize) {}
