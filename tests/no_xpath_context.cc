// Preloaded into cfgmigrate to make XPath context creation fail, as it does
// when memory runs out.
#include <libxml/xpath.h>

extern "C" xmlXPathContextPtr xmlXPathNewContext(xmlDocPtr) { return nullptr; }
