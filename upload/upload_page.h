#pragma once
// The upload page: runs the transfer and shows its log, progress and result.
#include <cstdint>

#include "platform/ui/afxwin.h"
#include "wizard/new_wiz_page.h"

constexpr UINT IDD_UPLOAD = 139;

class CUploadPage : public CNewWizPage {
public:
    // The package members the upload hands the driver; read-only for the life of the process.
    CUploadPage(const unsigned char* pImage, uint32_t nImageSize, const unsigned char* pModelKey,
                uint32_t nModelKeySize, const unsigned char* pBlankKey, uint32_t nBlankKeySize);

    int m_nResult = 0;  // 0 nothing programmed, 1 programmed, 2 the instrument started it
    const unsigned char* m_pImage;
    uint32_t m_nImageSize;
    const unsigned char* m_pModelKey;
    uint32_t m_nModelKeySize;
    const unsigned char* m_pBlankKey;
    uint32_t m_nBlankKeySize;
};
