// The IPsec certificate leaf of a client-to-site tunnel and of a
// site-to-site tunnel's symmetric authentication moved one level down,
// into a local-certificate container.
#include <libxml/tree.h>

#include "steps/steps.h"
#include "toolkit/run_state.h"
#include "toolkit/xpath.h"

namespace {

// Only the first certificate each expression selects is wrapped.
const char *const certificates[] = {
    "./vpn_ipsec:client-to-sites/vpn_ipsec:client-to-site/vpn_ipsec:certificate",
    "./vpn_ipsec:site-to-sites/vpn_ipsec:site-to-site/vpn_ipsec:symm-authentication/"
    "vpn_ipsec:certificate",
};

void wrap_first(const char *expression) {
  xmlNode *certificate = xpath_first(run.root, expression);
  if (!certificate)
    return;
  // Without a wrapper, unlinking would leave the certificate in no tree
  // at all; it stays where it is instead.
  xmlNode *wrapper = new_element("local-certificate");
  if (!wrapper)
    return;
  // Placed while the certificate is still attached, so the wrapper lands
  // after the parent's last child.
  add_sibling(certificate, wrapper);
  xmlUnlinkNode(certificate);
  add_child(wrapper, certificate);
}

} // namespace

const char *const step_ipsec_local_certificate_reads[] = {nullptr};

const char *step_ipsec_local_certificate(int reverse) {
  if (reverse)
    return step_ipsec_local_certificate_row.from_label;
  for (const char *expression : certificates)
    wrap_first(expression);
  return step_ipsec_local_certificate_row.to_label;
}
