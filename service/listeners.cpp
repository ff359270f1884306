// The service's listeners as the configuration store names them: the plain
// HTTP port, and a TLS port when a certificate chain and key are named; each
// on every address or on the one configured; the plain port serving, sending
// every request to HTTPS, or closed.
//
//   <ServiceProviderPort>9555</ServiceProviderPort>        plain HTTP (0: any free port)
//   <ListenAddress>127.0.0.1</ListenAddress>               plain HTTP's address (default: every address)
//   <HttpsPort>9556</HttpsPort>                            TLS, with the two files below
//   <HttpsCertificateChain>tls/chain.pem</HttpsCertificateChain>
//   <HttpsPrivateKey>tls/key.pem</HttpsPrivateKey>         relative to the application directory, or absolute
//   <HttpsListenAddress>::1</HttpsListenAddress>           TLS's address (default: ListenAddress)
//   <PlainHttp>redirect</PlainHttp>                        serve (default), redirect or off
#include <string>

#include "service/vcard_main.h"
#include "vcard/vcard_text.h"

namespace pelorin {

std::string TPelorinService::ConfigText(const std::string& name) {
  TQuickDom& config = ConfigDom.Dom();
  if (!config.SelectNode("xConfig/" + name)) return {};
  // An indented store puts line breaks and blanks around the text.
  return std::string(Trim(config.GetText()));
}

std::optional<TListenerPlan> TPelorinService::ConfiguredListeners() {
  TListenerPlan plan;
  const std::optional<std::uint16_t> port = ConfiguredPort();
  if (!port) {
    WriteLog("ServiceProviderPort is not a port number.");
    return std::nullopt;
  }
  plan.PlainPort = *port;
  plan.Plain.Address = ConfigText("ListenAddress");
  const std::string https_port = ConfigText("HttpsPort");
  const std::string chain = ConfigText("HttpsCertificateChain");
  const std::string key = ConfigText("HttpsPrivateKey");
  if (!https_port.empty() || !chain.empty() || !key.empty()) {
    const bool digits = !https_port.empty() && https_port.size() <= 5 &&
                        https_port.find_first_not_of("0123456789") == std::string::npos;
    if (!digits || std::stoul(https_port) > 65535 || chain.empty() || key.empty()) {
      WriteLog("HTTPS needs HttpsPort (a port number), HttpsCertificateChain and HttpsPrivateKey.");
      return std::nullopt;
    }
    const auto in_app_dir = [this](const std::string& path) { return path.starts_with('/') ? path : AppDir + "/" + path; };
    plan.TlsPort = static_cast<std::uint16_t>(std::stoul(https_port));
    plan.Secure.Address = ConfigText("HttpsListenAddress");
    if (plan.Secure.Address.empty()) plan.Secure.Address = plan.Plain.Address;
    plan.Secure.Tls = TTlsSettings{in_app_dir(chain), in_app_dir(key)};
  }
  const std::string plain = ConfigText("PlainHttp");
  if (plain == "redirect") {
    plan.PlainMode = TPlainHttp::Redirect;
  } else if (plain == "off") {
    plan.PlainMode = TPlainHttp::Off;
  } else if (!plain.empty() && plain != "serve") {
    WriteLog("PlainHttp is serve, redirect or off, not " + plain + ".");
    return std::nullopt;
  }
  if (plan.PlainMode != TPlainHttp::Serve && !plan.TlsPort) {
    WriteLog("PlainHttp " + plain + " needs HTTPS configured: plain HTTP is served.");
    plan.PlainMode = TPlainHttp::Serve;
  }
  return plan;
}

bool TPelorinService::ActivateListeners(const TListenerPlan& plan) {
  PlainHttpMode = plan.PlainMode;
  if (plan.TlsPort && !HTTPSServer.Activate(*plan.TlsPort, plan.Secure)) {
    WriteLog("Unable to activate HTTPS server: " + HTTPSServer.ErrorText());
    return false;
  }
  if (plan.PlainMode != TPlainHttp::Off && !HTTPServer.Activate(plan.PlainPort, plan.Plain)) {
    WriteLog("Unable to activate HTTP server: " + HTTPServer.ErrorText());
    HTTPSServer.Deactivate();
    return false;
  }
  return true;
}

// Sent before any credentials are asked for, so that a browser never offers a
// password over plain HTTP.
void TPelorinService::RedirectToHttps(const RequestInfo& req, ResponseInfo& res) const {
  std::string host = req.HostName;
  // "[::1]:9555", "example.org:9555", "example.org": the port goes.
  const std::size_t bracket = host.rfind(']');
  const std::size_t colon = host.rfind(':');
  if (colon != std::string::npos && (bracket == std::string::npos || colon > bracket)) host.erase(colon);
  const std::uint16_t port = HTTPSServer.Port();
  std::string target = "https://" + host + (port == 443 ? "" : ":" + std::to_string(port)) + req.Path;
  if (!req.Query.empty()) target += "?" + req.Query;
  res.RedirectTo(target);
  res.SetStatus(308);
  res.BodyType = "text/plain";
  res.Body = "This service is reached over HTTPS.";
}

}  // namespace pelorin
