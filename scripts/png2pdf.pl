#!/usr/bin/perl
# Wraps a PNG image (8-bit RGB, not interlaced) into a one-page PDF of the
# image's size in pixels as points, without decoding it: the PNG's
# compressed rows become the PDF image's stream, read back with the PNG
# predictors. groff's PDF output embeds such a page as a picture.
#   perl png2pdf.pl IN.png OUT.pdf
use strict;
use warnings;

my ($in, $out) = @ARGV;
die "usage: png2pdf.pl IN.png OUT.pdf\n" unless defined $out;
open(my $fh, '<:raw', $in) or die "png2pdf: $in: $!\n";
local $/;
my $png = <$fh>;
close $fh;
substr($png, 0, 8) eq "\x89PNG\r\n\x1a\n" or die "png2pdf: $in: not a PNG file\n";

my ($width, $height, $depth, $colour, $interlace, $data) = (0, 0, 0, 0, 0, '');
my $pos = 8;
while ($pos + 8 <= length $png) {
  my ($len, $type) = unpack('N a4', substr($png, $pos, 8));
  my $body = substr($png, $pos + 8, $len);
  if ($type eq 'IHDR') {
    ($width, $height, $depth, $colour, undef, undef, $interlace) = unpack('N N C C C C C', $body);
  } elsif ($type eq 'IDAT') {
    $data .= $body;
  } elsif ($type eq 'IEND') {
    last;
  }
  $pos += 12 + $len;
}
$depth == 8 && $colour == 2 && $interlace == 0
  or die "png2pdf: $in: not an 8-bit RGB PNG without interlacing\n";

my @objects = (
  "<< /Type /Catalog /Pages 2 0 R >>",
  "<< /Type /Pages /Kids [3 0 R] /Count 1 >>",
  "<< /Type /Page /Parent 2 0 R /MediaBox [0 0 $width $height]"
    . " /Resources << /XObject << /Im0 4 0 R >> >> /Contents 5 0 R >>",
  "<< /Type /XObject /Subtype /Image /Width $width /Height $height /ColorSpace /DeviceRGB"
    . " /BitsPerComponent 8 /Filter /FlateDecode"
    . " /DecodeParms << /Predictor 15 /Colors 3 /BitsPerComponent 8 /Columns $width >>"
    . " /Length " . length($data) . " >>\nstream\n$data\nendstream",
);
my $draw = "q $width 0 0 $height 0 0 cm /Im0 Do Q";
push @objects, "<< /Length " . length($draw) . " >>\nstream\n$draw\nendstream";

my $pdf = "%PDF-1.4\n";
my @offsets;
for my $i (0 .. $#objects) {
  push @offsets, length $pdf;
  $pdf .= ($i + 1) . " 0 obj\n$objects[$i]\nendobj\n";
}
my $xref = length $pdf;
$pdf .= "xref\n0 " . (@objects + 1) . "\n0000000000 65535 f \n";
$pdf .= sprintf("%010d 00000 n \n", $_) for @offsets;
$pdf .= "trailer\n<< /Size " . (@objects + 1) . " /Root 1 0 R >>\nstartxref\n$xref\n%%EOF\n";

open(my $oh, '>:raw', $out) or die "png2pdf: $out: $!\n";
print $oh $pdf;
close $oh or die "png2pdf: $out: $!\n";
