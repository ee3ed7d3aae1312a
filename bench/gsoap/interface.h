// What soapcpp2 reads for bench_gsoap_server: the declarations wsdl2h writes from the daemon's
// WSDL of IWSDLPublish (publish.h, in the build folder), and one pattern of accepted namespaces.
// The WSDL binds the calls to http://orvws.local/namespaces/Types, while the collectors (and the
// report's request) name the call's element in http://orvws.local/namespaces/Types-IWSDLPublish,
// as the daemon accepts: the pattern lets the generated server take the report's bytes as they are.
#import "publish.h"
//gsoap ns1 schema namespace2: http://orvws.local/namespaces/Types*
