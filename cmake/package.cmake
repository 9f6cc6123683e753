# The Debian package (scripts/package.sh). Its dependencies are read off the
# libraries the program links (dpkg-shlibdeps); the rest are what the program
# loads at run time: Qt's platform plugins, Qt's Japanese texts, a Japanese
# font and the toolbar icons.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME lumora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Lumora")
set(CPACK_PACKAGE_CONTACT "Lumora <lumora@lumora.example.jp>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Japanese desktop mail client for one POP3/SMTP account")
set(CPACK_PACKAGE_DESCRIPTION
    "Lumora receives every waiting mail of one POP3 account, decodes Japanese\n"
    "mail from Windows and mobile phone mailers, keeps attachments in a folder,\n"
    "and lists, shows, searches and saves mail. It writes, holds back, sends and\n"
    "answers mail with attachments, also to everyone in its address book. Its\n"
    "windows are in Japanese.")
string(JOIN "" CPACK_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION mail)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://lumora.example.jp/")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-ipafont-gothic | fonts-noto-cjk, tango-icon-theme")
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
include(CPack)
