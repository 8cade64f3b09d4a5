// The setup program's own resources, linked into this test program as into the stub: the icon
// that the backdrop window and Explorer show, and the manifest that Windows reads at start.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

namespace {

TEST(Resources, IconLoadsWithItsShapeAndTransparentCorners) {
    HICON icon =
        (HICON)LoadImageA(GetModuleHandleA(NULL), MAKEINTRESOURCEA(104), IMAGE_ICON, 32, 32, 0);
    ASSERT_NE(icon, nullptr);
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP mask;
    ASSERT_TRUE(GetObjectA(info.hbmMask, sizeof mask, &mask));
    EXPECT_EQ(mask.bmWidth, 32);
    // The mask's top-left pixel is set (transparent); the middle one is clear (painted).
    HDC dc = CreateCompatibleDC(NULL);
    HGDIOBJ old = SelectObject(dc, info.hbmMask);
    EXPECT_NE(GetPixel(dc, 0, 0) & 0xFFFFFF, 0u);
    EXPECT_EQ(GetPixel(dc, 16, 16) & 0xFFFFFF, 0u);
    SelectObject(dc, old);
    DeleteDC(dc);
    DeleteObject(info.hbmMask);
    if (info.hbmColor) DeleteObject(info.hbmColor);
    DestroyIcon(icon);
}

TEST(Resources, ManifestAsksForCommonControlsSixAndAdministrator) {
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(1), MAKEINTRESOURCEA(24)); // RT_MANIFEST
    ASSERT_NE(found, nullptr);
    DWORD size = SizeofResource(NULL, found);
    const char *text = (const char *)LockResource(LoadResource(NULL, found));
    ASSERT_NE(text, nullptr);
    std::string manifest(text, size);
    EXPECT_NE(manifest.find("Microsoft.Windows.Common-Controls"), std::string::npos);
    EXPECT_NE(manifest.find("version=\"6.0.0.0\""), std::string::npos);
    EXPECT_NE(manifest.find("requireAdministrator"), std::string::npos);
}

} // namespace
