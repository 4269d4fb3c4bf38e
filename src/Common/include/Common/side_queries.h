#pragma once
// Background queries the window starts while it initialises, and the URL helpers of the install
// worker. Each thread function runs once on its own thread and talks to the window only through
// InstallWindow; none of them shows anything.

#include <optional>
#include <string>
#include <vector>

class InstallWindow;

// Fills the configuration from the update service unless the worker has started meanwhile.
void AsyncGetCbsInfoThreadFunc(InstallWindow& window);
// Fetches the two sub-program URLs of downloaders 277 and 278.
void GetSubProgramInfoThreadFunc(InstallWindow& window);
// Checks the tracking id in the downloader's own file name; clears spTracking when it is not
// valid. `programPath` is the downloader's path (the running program by default).
void VerifyCrossEndIdThreadFunc(InstallWindow& window, const std::string& programPath = {});

// The first URL that is not a content-delivery URL (preference 1); empty when there is none.
std::string checkRemotePath(std::vector<std::string> urls, int preference);
// The extra download URL of the configured download page, empty when there is none or it
// does not answer.
std::string GetDataDlUrl(InstallWindow& window);

// The request counter under the product's uninstall key ("RequestTooMuchTimes").
bool isForbidCDN(const std::string& softwareName);
bool IncreaseRequestTooMuchTimes(const std::string& softwareName);

// Logs this machine's proxy settings; 0 none, 1 auto-configuration URL, 2 proxy list, 3 bypass
// list (the last one found).
int GetIEProxyConfig();

// The tracking id of a downloader file name: between the last "_" and the last "." (or the
// rest after the last "_" when the "." comes first); nullopt without "_" or ".".
std::optional<std::string> TrackingIdOfFileName(const std::string& fileName);
// The status check of the cross-end answer: false unless "\"status\":" is followed by a number
// and a "," and the number is 200.
bool CrossEndStatusOk(const std::string& body);
