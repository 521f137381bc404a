// The look-dev page's files, compiled into the program from preview/page/assets.
#ifndef UMBREX_PREVIEW_PAGE_ASSETS_H
#define UMBREX_PREVIEW_PAGE_ASSETS_H

#include <vector>

struct PageAsset {
    const char *route;  // "/" for index.html
    const char *type;   // its Content-Type
    const char *content;
};

const std::vector<PageAsset> &page_assets();

#endif
