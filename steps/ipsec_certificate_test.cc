#include <ostream>
#include <string>

#include <gtest/gtest.h>

#include "cli/run_state.h"
#include "steps/steps.h"
#include "tests/step_support.h"

namespace {

// The wrapper is made without a namespace and libxml2 declares none on
// save, so under a default namespace it reads back inside that namespace.
const EditCase cases[] = {
    {"WrapperGoesLastAroundTheSameCertificate",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><a/><certificate id='7'>ca<b>x</b>"
     "</certificate><b/></client-to-site></client-to-sites>",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><a/><b/><local-certificate>"
     "<certificate id='7'>ca<b>x</b></certificate>"
     "</local-certificate></client-to-site></client-to-sites>"},
    {"OnlyTheFirstPerExpression",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><certificate>one</certificate>"
     "</client-to-site><client-to-site><certificate>two</certificate></client-to-site>"
     "</client-to-sites>",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><local-certificate>"
     "<certificate>one</certificate></local-certificate></client-to-site>"
     "<client-to-site><certificate>two</certificate></client-to-site></client-to-sites>"},
    {"BothExpressions",
     "<v:client-to-sites xmlns:v='@vpn_ipsec@'><v:client-to-site><v:certificate>c</v:certificate>"
     "<v:name>n</v:name></v:client-to-site></v:client-to-sites><v:site-to-sites "
     "xmlns:v='@vpn_ipsec@'><v:site-to-site><v:symm-authentication><v:certificate>s"
     "</v:certificate><v:psk/></v:symm-authentication></v:site-to-site></v:site-to-sites>",
     "<v:client-to-sites xmlns:v='@vpn_ipsec@'><v:client-to-site><v:name>n</v:name>"
     "<local-certificate><v:certificate>c</v:certificate></local-certificate></v:client-to-site>"
     "</v:client-to-sites><v:site-to-sites xmlns:v='@vpn_ipsec@'><v:site-to-site>"
     "<v:symm-authentication><v:psk/><local-certificate><v:certificate>s</v:certificate>"
     "</local-certificate></v:symm-authentication></v:site-to-site></v:site-to-sites>"},
    {"SiteToSiteWithoutSymmAuthenticationOrCertificate",
     "<site-to-sites xmlns='@vpn_ipsec@'><site-to-site><certificate>x</certificate>"
     "</site-to-site><site-to-site><symm-authentication><psk/></symm-authentication>"
     "</site-to-site></site-to-sites>",
     "<site-to-sites xmlns='@vpn_ipsec@'><site-to-site><certificate>x</certificate>"
     "</site-to-site><site-to-site><symm-authentication><psk/></symm-authentication>"
     "</site-to-site></site-to-sites>"},
    {"AlreadyWrappedIsLeftAlone",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><local-certificate>"
     "<certificate>c</certificate></local-certificate></client-to-site></client-to-sites>",
     "<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><local-certificate>"
     "<certificate>c</certificate></local-certificate></client-to-site></client-to-sites>"},
    {"NoIpsecModule",
     "<client-to-sites xmlns='@wifi@'><client-to-site><certificate>c</certificate>"
     "</client-to-site></client-to-sites>",
     "<client-to-sites xmlns='@wifi@'><client-to-site><certificate>c</certificate>"
     "</client-to-site></client-to-sites>"},
};

class IpsecCertificateTest : public StepTest, public ::testing::WithParamInterface<EditCase> {};

TEST_P(IpsecCertificateTest, Edits) {
  load(config(GetParam().input));
  EXPECT_STREQ(step_ipsec_local_certificate(0), "v1.0.22-20171129");
  EXPECT_EQ(saved(), normalised(config(GetParam().expected)));
  EXPECT_TRUE(log_.lines().empty());
}

INSTANTIATE_TEST_SUITE_P(, IpsecCertificateTest, ::testing::ValuesIn(cases),
                         [](const auto &info) { return std::string(info.param.name); });

using IpsecCertificateStepTest = StepTest;

TEST_F(IpsecCertificateStepTest, WrapperHasNoNamespaceAndCertificateIsMovedNotCopied) {
  load(config("<client-to-sites xmlns='@vpn_ipsec@'><client-to-site><certificate>c"
              "</certificate></client-to-site></client-to-sites>"));
  xmlNode *certificate = xmlFirstElementChild(xmlFirstElementChild(xmlFirstElementChild(run.root)));
  ASSERT_NE(certificate, nullptr);
  xmlNs *ns = certificate->ns;
  step_ipsec_local_certificate(0);
  ASSERT_NE(certificate->parent, nullptr);
  EXPECT_STREQ(reinterpret_cast<const char *>(certificate->parent->name), "local-certificate");
  EXPECT_EQ(certificate->parent->ns, nullptr);
  EXPECT_EQ(certificate->parent->properties, nullptr);
  EXPECT_EQ(certificate->ns, ns);
}

TEST_F(IpsecCertificateStepTest, ReverseChangesNothing) {
  const std::string input = config("<client-to-sites xmlns='@vpn_ipsec@'><client-to-site>"
                                   "<certificate>c</certificate><a/></client-to-site>"
                                   "</client-to-sites>");
  load(input);
  EXPECT_STREQ(step_ipsec_local_certificate(1), "v1.0.19-20171017");
  EXPECT_EQ(saved(), normalised(input));
}

// Our choice: with no wrapper to move into, the certificate stays put.
TEST_F(IpsecCertificateStepTest, NoWrapperLeavesCertificateInPlace) {
  const std::string input = config("<client-to-sites xmlns='@vpn_ipsec@'><client-to-site>"
                                   "<certificate>c</certificate><a/></client-to-site>"
                                   "</client-to-sites>");
  load(input);
  {
    FailNodeAllocations no_wrappers(2);
    step_ipsec_local_certificate(0);
  }
  EXPECT_EQ(saved(), normalised(input));
  EXPECT_EQ(log_.texts(),
            std::vector<std::string>{"cfgmigrate(N): Error: can not create a new node"});
}

} // namespace
